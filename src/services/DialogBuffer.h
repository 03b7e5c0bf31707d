// The fixed-size text buffers the file dialogs are given.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// `size` bytes (at least one) holding `text` cut to size - 1 bytes, then zeros.
std::vector<char> dialogBuffer(const std::string& text, std::size_t size);
