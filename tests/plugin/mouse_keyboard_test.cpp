#include "plugin/mouse_keyboard.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "host_fixture.h"

using orvanhost::Arg;

class MouseKeyboard : public orvan_test::HostFixture {
protected:
    double Mouse(const std::string& name) { return *Call("GetMouseState", {Arg::Text(name)}); }
};

TEST_F(MouseKeyboard, TheTwelveNamesQueryTheirButtons) {
    for (const char* n : {"lm", "LM", "Lm", "lM"}) EXPECT_EQ(Mouse(n), 0.0) << n;
    for (const char* n : {"mm", "MM", "Mm", "mM"}) EXPECT_EQ(Mouse(n), 0.0) << n;
    for (const char* n : {"rm", "RM", "Rm", "rM"}) EXPECT_EQ(Mouse(n), 0.0) << n;
    EXPECT_EQ(host.KeyStateQueries(), (std::vector<int>{1, 1, 1, 1, 4, 4, 4, 4, 2, 2, 2, 2}));
}

TEST_F(MouseKeyboard, OtherTextsGiveMinusOneWithoutAQuery) {
    for (const char* n : {"ml", "Lm ", " lm", "lmx", "", "LMB", "left"}) EXPECT_EQ(Mouse(n), -1.0) << n;
    EXPECT_EQ(*Call("GetMouseState", {Arg::String(orvanhost::StringPtr())}), -1.0);
    EXPECT_TRUE(host.KeyStateQueries().empty());
}

TEST_F(MouseKeyboard, OnlyANewPressCountsAsPressed) {
    host.SetKeyDown(1, true);
    EXPECT_EQ(Mouse("lm"), 1.0);  // 0x8001
    EXPECT_EQ(Mouse("lm"), 0.0);  // 0x8000: still down, already reported
    host.SetKeyDown(1, false);
    EXPECT_EQ(Mouse("Lm"), 0.0);
    host.SetKeyDown(2, true);
    host.SetKeyDown(2, false);
    EXPECT_EQ(Mouse("rm"), 0.0);  // 0x0001: pressed and released
    host.SetKeyDown(4, true);
    EXPECT_EQ(Mouse("MM"), 1.0);
    EXPECT_EQ(TakeResults(), "");
}

TEST_F(MouseKeyboard, EscapeAndShiftAreSentDownThenUp) {
    EXPECT_FALSE(Call("FakeESC", {}).has_value());
    orvan::ShiftKeyDown();
    orvan::ShiftKeyUp();
    const auto& ev = host.KeyEvents();
    ASSERT_EQ(ev.size(), 4u);
    EXPECT_EQ(ev[0].virtual_key, 27);
    EXPECT_EQ(ev[0].flags, 0u);
    EXPECT_EQ(ev[1].virtual_key, 27);
    EXPECT_EQ(ev[1].flags, 2u);
    EXPECT_EQ(ev[2].virtual_key, 16);
    EXPECT_EQ(ev[2].flags, 0u);
    EXPECT_EQ(ev[3].virtual_key, 16);
    EXPECT_EQ(ev[3].flags, 2u);
    for (const auto& e : ev) {
        EXPECT_EQ(e.scan_code, 0);
        EXPECT_EQ(e.extra_info, 0u);
    }
}

TEST(FloodFill, FillsTheInnerBlockAndNeverTheOuterRing) {
    std::vector<float> block(25, 1.0f);
    orvan::FloodFillRegion(2, 2, 5, 5, block.data());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool inner = x >= 1 && x <= 3 && y >= 1 && y <= 3;
            EXPECT_EQ(block[x + 5 * y], inner ? 2.0f : 1.0f) << x << "," << y;
        }
    const std::vector<float> once = block;
    orvan::FloodFillRegion(2, 2, 5, 5, block.data());
    EXPECT_EQ(block, once);

    std::vector<float> ring(25, 1.0f);
    orvan::FloodFillRegion(0, 2, 5, 5, ring.data());
    orvan::FloodFillRegion(-7, 100, 5, 5, ring.data());
    EXPECT_EQ(ring, std::vector<float>(25, 1.0f));
}

namespace {

// The fill as four recursive steps per pixel, for comparison on small blocks.
void Recursive(int x, int y, int w, int h, std::vector<float>& b) {
    if (x < 1 || y < 1 || x > w - 2 || y > h - 2) return;
    if (b[x + y * w] != 1.0f) return;
    b[x + y * w] = 2.0f;
    Recursive(x + 1, y, w, h, b);
    Recursive(x, y + 1, w, h, b);
    Recursive(x - 1, y, w, h, b);
    Recursive(x, y - 1, w, h, b);
}

}  // namespace

TEST(FloodFill, FillsTheSamePixelsAsTheRecursiveRule) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 50; ++trial) {
        const int w = 3 + trial % 17, h = 4 + (trial * 7) % 13;
        std::vector<float> b(w * h);
        for (float& v : b) v = rng() % 3 ? 1.0f : (rng() % 2 ? 0.0f : 2.0f);
        std::vector<float> expected = b;
        const int sx = static_cast<int>(rng() % w), sy = static_cast<int>(rng() % h);
        Recursive(sx, sy, w, h, expected);
        orvan::FloodFillRegion(sx, sy, w, h, b.data());
        EXPECT_EQ(b, expected) << "trial " << trial;
    }
}

TEST(FloodFill, ALargeRegionDoesNotNeedADeepStack) {
    const int w = 1200, h = 1000;
    std::vector<float> b(static_cast<std::size_t>(w) * h, 1.0f);
    // A wall with one gap, so the region winds round it.
    for (int y = 0; y < h - 3; ++y) b[600 + y * w] = 0.0f;
    orvan::FloodFillRegion(1, 1, w, h, b.data());
    std::size_t twos = 0;
    for (float v : b) twos += v == 2.0f;
    EXPECT_EQ(twos, static_cast<std::size_t>(w - 2) * (h - 2) - (h - 3 - 1));
}

class FloodFillImage : public orvan_test::HostFixture {};

TEST_F(FloodFillImage, ConvertsTheImageFillsAndAnnounces) {
    orvanhost::ImagePtr img = orvanhost::MakeImage("", orvanhost::DataType::Int16, {5, 5});
    img->SetPixels(std::vector<double>(25, 1.0));
    orvan::FloodFillImage(orvanhost::ToLink(img.get()), 2.9f, 2.2f);
    EXPECT_EQ(img->Type(), orvanhost::DataType::Real4);
    EXPECT_EQ(img->GetPixel(2, 2), 2.0);
    EXPECT_EQ(img->GetPixel(0, 2), 1.0);
    EXPECT_EQ(img->DataChangedCount(), 1);
    EXPECT_EQ(img->LockCount(), 0);
    orvan::FloodFillImage(nullptr, 1, 1);
    EXPECT_NE(TakeResults().find("exception caught: "), std::string::npos);
    orvan::FloodFillImage(orvanhost::ToLink(img.get()), std::nanf(""), 2);
    EXPECT_EQ(TakeResults(), "");
}

class ParseFloat : public orvan_test::HostFixture {
protected:
    float Parse(const std::string& text) {
        orvanhost::StringPtr s(text);
        return orvan::ParseFloatString(orvanhost::ToLink(s.get()));
    }
};

TEST_F(ParseFloat, ReadsANumberAtTheStartOrAfterOneCharacter) {
    EXPECT_EQ(Parse("  2.5e1abc"), 25.0f);
    EXPECT_EQ(Parse("x 3"), 3.0f);
    EXPECT_EQ(Parse("#-1.5"), -1.5f);
    EXPECT_EQ(Parse("abc"), 0.0f);
    EXPECT_EQ(Parse(""), 0.0f);
    EXPECT_EQ(Parse("xy3"), 0.0f);
    EXPECT_EQ(orvan::ParseFloatString(nullptr), 0.0f);
    EXPECT_EQ(TakeResults(), "");
}
