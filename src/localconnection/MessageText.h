// Messages of the section as text, in the value dump text the launcher uses everywhere:
// a call as METHOD(ARGS), the listener table's names, and the message in the slot.
// Text comes out as the UTF-8 bytes the section holds, as every text inside the launcher.
#pragma once

#include "localconnection/FlashLocalConnectionCall.h"
#include "localconnection/SectionLayout.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lc {

// "METHOD(ARG, ARG)" with each argument's dump text.
std::string callText(std::string_view method, const CFlashLocalConnectionCall& call);

// The names of the listener table in their order, bounded by the table's end and the view.
std::vector<std::string> listenerNames(SectionView view);

// The slot's header and body, copied under the lock so that the text is made after it;
// empty when the slot is free. A length past the body room is cut to the room.
std::vector<std::uint8_t> copySlot(SectionView view);

// "to NAME from DOMAIN: METHOD(ARGS)" for a copied slot. A body that does not decode
// shows as "to NAME: N bytes that do not decode: " and its first bytes in hex.
std::string messageText(const std::vector<std::uint8_t>& slot);

} // namespace lc
