#include <gtest/gtest.h>

#include "player/window.h"

namespace {

class KeyQueue : public ::testing::Test {
protected:
    void SetUp() override { ClearKeyQueue(); }
    void TearDown() override { ClearKeyQueue(); }
};

int Down(uint32_t vk, bool shift = false, bool ctrl = false) {
    return KeyCodeFor(KeySource::KeyDown, vk, shift, ctrl, 0);
}
int SysDown(uint32_t vk, uint32_t keyData = 0) {
    return KeyCodeFor(KeySource::SystemKeyDown, vk, false, false, keyData);
}
int Char(uint32_t c, bool shift = false) { return KeyCodeFor(KeySource::Character, c, shift, false, 0); }

constexpr uint32_t kAltBit = 1u << 29;

}  // namespace

TEST_F(KeyQueue, KeepsOrderAndDropsThe65thCode) {
    EXPECT_EQ(TakeKey(), -1);
    for (int i = 0; i < 70; i++) QueueKey(static_cast<uint8_t>(i + 100));
    EXPECT_EQ(QueuedKeyCount(), 64u);
    for (int i = 0; i < 64; i++) EXPECT_EQ(TakeKey(), i + 100);
    EXPECT_EQ(TakeKey(), -1);
    EXPECT_EQ(QueuedKeyCount(), 0u);
}

TEST_F(KeyQueue, RoomFreedByTakingIsUsedAgain) {
    for (int i = 0; i < 64; i++) QueueKey(1);
    EXPECT_EQ(TakeKey(), 1);
    QueueKey(KEY_CLOSE);
    QueueKey(KEY_ESCAPE);  // full again: dropped
    for (int i = 0; i < 63; i++) EXPECT_EQ(TakeKey(), 1);
    EXPECT_EQ(TakeKey(), KEY_CLOSE);
    EXPECT_EQ(TakeKey(), -1);
}

TEST(KeyTable, CharactersAreQueuedAsThey) {
    EXPECT_EQ(Char(13), KEY_ENTER);
    EXPECT_EQ(Char(27), KEY_ESCAPE);
    EXPECT_EQ(Char(' '), KEY_SPACE);
    EXPECT_EQ(Char('.'), KEY_PERIOD);
    EXPECT_EQ(Char('a', true), 'a');
    EXPECT_EQ(Char(0xE9), 0xE9);
    EXPECT_EQ(Char(9), 9);
    EXPECT_EQ(Char(9, true), 137);  // Shift+Tab
}

TEST(KeyTable, FunctionKeysWithShiftAndCtrl) {
    EXPECT_EQ(Down(112), 208);  // F1
    EXPECT_EQ(Down(121), 217);  // F10
    EXPECT_EQ(Down(112, true), 218);
    EXPECT_EQ(Down(121, true), 227);
    EXPECT_EQ(Down(112, false, true), 228);
    EXPECT_EQ(Down(121, false, true), 237);
    EXPECT_EQ(Down(115, true, true), 221);  // Shift is tested first
    EXPECT_EQ(Down(122), -1);               // F11 is not in the table
    EXPECT_EQ(Down(111), -1);
}

TEST(KeyTable, CursorKeysAndEditingKeys) {
    const uint32_t keys[] = {33, 34, 35, 36, 37, 38, 39, 40, 45, 46};
    const int codes[] = {161, 162, 163, 164, 165, 166, 167, 168, 173, 174};
    for (int i = 0; i < 10; i++) EXPECT_EQ(Down(keys[i]), codes[i]) << keys[i];
    EXPECT_EQ(Down(41), -1);
    EXPECT_EQ(Down(44), -1);
    EXPECT_EQ(Down(47), -1);
    EXPECT_EQ(Down(32), -1);  // Space comes as a character
    EXPECT_EQ(Down(13), -1);
    EXPECT_EQ(Down(37, true, true), 165);  // modifiers change only F-keys
}

TEST(KeyTable, SystemKeys) {
    EXPECT_EQ(SysDown(115, kAltBit), KEY_CLOSE);  // Alt+F4 queues the close code
    EXPECT_EQ(SysDown(112), 238);
    EXPECT_EQ(SysDown(120), 246);
    EXPECT_EQ(SysDown(121), 217);  // F10 alone
    EXPECT_EQ(SysDown(121, kAltBit), 247);
    EXPECT_EQ(SysDown(18, kAltBit), -1);  // Alt itself: default handling
    EXPECT_EQ(SysDown(122, kAltBit), -1);
}

TEST(ClassName, InstanceNibblesBecomeLetters) {
    char name[kClassNameSize];
    BuildClassName(name, 0);
    EXPECT_STREQ(name, "KOVDWAAAA");
    BuildClassName(name, 0x12AF);
    EXPECT_STREQ(name, "KOVDWBCKP");
    BuildClassName(name, 0x400000);  // only the low 16 bits count
    EXPECT_STREQ(name, "KOVDWAAAA");
    BuildClassName(name, 0x7FFFFEDC);
    EXPECT_STREQ(name, "KOVDWPONM");
}
