// The services in this process once the game has ended while a box of theirs was open.
#include "services/LauncherServices.h"

#include "support/BoxWatcher.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

// BrowseFile's count box is open when the game ends: once it is closed, no dialog opens
// for a game that is gone.
TEST(EndedServices, BrowseFileOpensNoDialogAfterACountBoxOutlivedTheGame)
{
    CLauncherServices services;
    CFlashLocalConnectionCall call("BrowseFile");
    call.addArgument(std::make_unique<CFlashAMFString>("game.reply"), false);
    call.addArgument(std::make_unique<CFlashAMFString>("C:\\"), false);
    std::atomic<bool> returned{false};
    std::atomic<int> dialogs{0};
    std::jthread player([&] {
        BoxWatcher boxes(0, false);
        EXPECT_TRUE(boxes.waitForCount(1, 30000));
        services.markEnded();
        boxes.dismissAll();
        // A dialog opened after the box would hold the call until closed.
        while (!returned) {
            for (const HWND dialog : topLevelDialogs(0)) {
                const auto children = childWindows(dialog);
                if (std::none_of(children.begin(), children.end(),
                                 [](HWND child) { return windowClass(child).starts_with("ComboBox"); }))
                    continue; // not a file dialog: the box, on its way out
                ++dialogs;
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            }
            Sleep(20);
        }
    });
    services.dispatch(&call, nullptr);
    returned = true;
    player.join();
    EXPECT_EQ(dialogs.load(), 0);
}

} // namespace
