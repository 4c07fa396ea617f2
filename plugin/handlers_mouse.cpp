#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/sdk/host_string.h"
#include "host/sdk/image_data_lock.h"
#include "host/sdk/image_ref.h"
#include "host/sdk/windows_input.h"
#include "plugin/frame.h"
#include "plugin/handlers.h"
#include "plugin/mouse_keyboard.h"

namespace {

constexpr unsigned char kShiftKey = 16;
constexpr unsigned char kEscapeKey = 27;

// Button name -> virtual-key code, compared in this order.
struct ButtonName {
    const char* name;
    int virtual_key;
};
constexpr ButtonName kButtons[] = {
    {"lm", 1}, {"LM", 1}, {"Lm", 1}, {"lM", 1}, {"mm", 4}, {"MM", 4},
    {"Mm", 4}, {"mM", 4}, {"rm", 2}, {"RM", 2}, {"Rm", 2}, {"rM", 2},
};

// Truncates toward zero into *out; false for not-a-number and values
// outside the 32-bit range.
bool TruncateToInt32(float v, int32_t* out) {
    const double d = v;
    if (!(d > -2147483649.0 && d < 2147483648.0)) return false;
    *out = static_cast<int32_t>(std::trunc(d));
    return true;
}

}  // namespace

float GetMouseState(LinkString* button) {
    float result = -1.0f;
    orvan::RunFramed([&] {
        const std::string name = host_string::Borrow(button).ToStdString(0);
        for (const ButtonName& b : kButtons) {
            if (name == b.name) {
                // Down now and pressed since the last query: exactly 0x8001.
                result = GetAsyncKeyState(b.virtual_key) == -32767 ? 1.0f : 0.0f;
                return;
            }
        }
    });
    return result;
}

void FakeESC() {
    orvan::RunFramed([] {
        keybd_event(kEscapeKey, 0, 0, 0);
        keybd_event(kEscapeKey, 0, KEYEVENTF_KEYUP, 0);
    });
}

namespace orvan {

void ShiftKeyDown() { keybd_event(kShiftKey, 0, 0, 0); }
void ShiftKeyUp() { keybd_event(kShiftKey, 0, KEYEVENTF_KEYUP, 0); }

void FloodFillRegion(int32_t x, int32_t y, int32_t width, int32_t height, float* block) {
    // Same set of pixels as filling recursively to (x+1,y), (x,y+1), (x-1,y),
    // (x,y-1): the 4-connected component of 1.0 inside the inner rectangle.
    auto inside = [&](int64_t px, int64_t py) {
        return px >= 1 && py >= 1 && px <= int64_t{width} - 2 && py <= int64_t{height} - 2;
    };
    auto at = [&](int64_t px, int64_t py) -> float& {
        return block[static_cast<std::size_t>(px) + static_cast<std::size_t>(py) * static_cast<std::size_t>(width)];
    };
    if (!inside(x, y) || at(x, y) != 1.0f) return;
    std::vector<std::pair<int32_t, int32_t>> work;
    at(x, y) = 2.0f;
    work.emplace_back(x, y);
    while (!work.empty()) {
        const auto [px, py] = work.back();
        work.pop_back();
        const int64_t next[4][2] = {
            {px + int64_t{1}, py}, {px, py + int64_t{1}}, {px - int64_t{1}, py}, {px, py - int64_t{1}}};
        for (const auto& n : next) {
            if (inside(n[0], n[1]) && at(n[0], n[1]) == 1.0f) {
                at(n[0], n[1]) = 2.0f;
                work.emplace_back(static_cast<int32_t>(n[0]), static_cast<int32_t>(n[1]));
            }
        }
    }
}

void FloodFillImage(LinkImage* image, float seed_x, float seed_y) {
    RunFramed([&] {
        Host::ImageChangeDataType(image, HOST_TYPE_REAL4);
        const uint32_t w = Host::ImageGetDimensionSize(image, 0);
        const uint32_t h = Host::ImageGetDimensionSize(image, 1);
        if (w > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
            h > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
            throw std::runtime_error("image too large to fill");
        Host::PlugIn::ImageDataLock lock(image, 1);
        if (!lock.IsLocked()) throw std::runtime_error("image pixel data could not be locked");
        if (static_cast<std::size_t>(w) * h > lock.size() / sizeof(float))
            throw std::runtime_error("image pixel data smaller than its dimensions");
        int32_t x, y;
        if (TruncateToInt32(seed_x, &x) && TruncateToInt32(seed_y, &y))
            FloodFillRegion(x, y, static_cast<int32_t>(w), static_cast<int32_t>(h), static_cast<float*>(lock.get()));
        Host::ImageDataChanged(image);
    });
}

float ParseFloatText(const char* text) {
    float value = 0.0f;
    if (std::sscanf(text, "%f", &value) == 1) return value;
    char first;
    value = 0.0f;
    if (std::sscanf(text, "%c %f", &first, &value) == 2) return value;
    return 0.0f;
}

float ParseFloatString(LinkString* text) {
    float result = 0.0f;
    RunFramed([&] { result = ParseFloatText(host_string::Borrow(text).ToStdString(0).c_str()); });
    return result;
}

}  // namespace orvan
