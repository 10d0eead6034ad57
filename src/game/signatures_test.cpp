#include "game/signatures.h"

#include <gtest/gtest.h>

#include <cstring>

#include "helpers/fake_game.h"
#include "helpers/recording_console.h"

namespace palisard {
namespace {

// A small stretch of game memory at kScanStart, page-readability by hand.
class BytesMemory final : public ProcessMemory {
 public:
  explicit BytesMemory(std::size_t size) : bytes(size, 0xCC) {}
  bool Read(uint64_t address, void* buffer, std::size_t size) override {
    if (address < kScanStart || address + size > kScanStart + bytes.size()) return false;
    for (uint64_t page = (address - kScanStart) / kPageSize; page <= (address - kScanStart + size - 1) / kPageSize;
         ++page) {
      if (page == unreadablePage) return false;
    }
    std::memcpy(buffer, bytes.data() + (address - kScanStart), size);
    return true;
  }
  void Put(std::size_t offset, std::initializer_list<uint8_t> values) {
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<long>(offset));
  }
  uint32_t Scan(const std::vector<uint8_t>& pattern, const char* mask) {
    MemorySnapshot image = MemorySnapshot::Read(*this, kScanStart, static_cast<uint32_t>(bytes.size()));
    return ScanGameMemory(image, pattern.data(), mask);
  }

  std::vector<uint8_t> bytes;
  uint64_t unreadablePage = ~0ULL;
};

const std::vector<uint8_t> kPattern = {0xB9, 0, 0, 0, 0, 0x57, 0x8D, 0x64, 0x24, 0x00};
const char kMask[] = "x????xxxxx";

TEST(ScanGameMemoryTest, MatchAtTheVeryStartOfTheRange) {
  BytesMemory memory(4 * kPageSize);
  memory.Put(0, {0xB9, 1, 2, 3, 4, 0x57, 0x8D, 0x64, 0x24, 0x00});
  EXPECT_EQ(memory.Scan(kPattern, kMask), kScanStart);
}

TEST(ScanGameMemoryTest, WildcardsMatchAnyByteIncludingZero) {
  BytesMemory memory(4 * kPageSize);
  memory.Put(100, {0xB9, 0, 0, 0, 0, 0x57, 0x8D, 0x64, 0x24, 0x00});
  memory.Put(50, {0xB9, 0xFF, 0xFF, 0xFF, 0xFF, 0x57, 0x8D, 0x64, 0x24, 0x01});  // last fixed byte differs
  EXPECT_EQ(memory.Scan(kPattern, kMask), kScanStart + 100);
}

TEST(ScanGameMemoryTest, PatternThatDoesNotOccurGivesZero) {
  BytesMemory memory(4 * kPageSize);
  memory.Put(kPageSize * 4 - 9, {0xB9, 0, 0, 0, 0, 0x57, 0x8D, 0x64, 0x24});  // cut off by the range's end
  EXPECT_EQ(memory.Scan(kPattern, kMask), 0u);
}

TEST(ScanGameMemoryTest, MatchAcrossAPageBoundary) {
  BytesMemory memory(4 * kPageSize);
  memory.Put(2 * kPageSize - 3, {0xB9, 9, 9, 9, 9, 0x57, 0x8D, 0x64, 0x24, 0x00});
  EXPECT_EQ(memory.Scan(kPattern, kMask), kScanStart + 2 * kPageSize - 3);
}

TEST(ScanGameMemoryTest, UnreadablePageIsSkipped) {
  BytesMemory memory(8 * kPageSize);
  memory.Put(1 * kPageSize + 10, {0xB9, 1, 1, 1, 1, 0x57, 0x8D, 0x64, 0x24, 0x00});  // in the bad page
  memory.Put(2 * kPageSize - 4, {0xB9, 2, 2, 2, 2, 0x57, 0x8D, 0x64, 0x24, 0x00});   // runs into it
  memory.Put(5 * kPageSize + 7, {0xB9, 3, 3, 3, 3, 0x57, 0x8D, 0x64, 0x24, 0x00});
  memory.unreadablePage = 1;
  EXPECT_EQ(memory.Scan(kPattern, kMask), kScanStart + 5 * kPageSize + 7);

  // The fixed bytes readable, the wildcards on the bad page, which reads as
  // zeros: no match there either.
  memory.Put(kPageSize - 2, {0xB9, 0x57});
  memory.Put(6 * kPageSize, {0xB9, 0x57});
  EXPECT_EQ(memory.Scan({0xB9, 0x57, 0, 0, 0, 0}, "xx????"), kScanStart + 6 * kPageSize);
}

class ResolveTest : public ::testing::Test {
 protected:
  bool Resolve(FakeGame& game) {
    auto memory = game.Open();
    RecordingConsole console;
    bool resolved = ResolveGameAddresses(*memory, state, console);
    output = console.Take();
    return resolved;
  }
  MatchState state;
  std::string output;
};

TEST_F(ResolveTest, FindsAllFiveWithTheirAddends) {
  FakeGame game;
  state.EditForTest([&](MatchData& d) { d.clients[3].SetCommunityId(99); });
  ASSERT_TRUE(Resolve(game));
  EXPECT_EQ(output, "");
  EXPECT_EQ(state.Addresses().ownId, game.layout().ownIdAddress());
  EXPECT_EQ(state.Addresses().chat, game.layout().chatAddress());
  EXPECT_EQ(state.Addresses().clients, game.layout().clientsAddress());  // operand + layout::kClientsPastOperand
  EXPECT_EQ(state.Addresses().serverInfo, game.layout().serverInfoAddress());
  EXPECT_EQ(state.Addresses().serverAddr,
            game.layout().serverAddrAddress());  // operand + layout::kServerAddressPastOperand
  EXPECT_EQ(state.Snapshot().clients[3].CommunityId(), 0u) << "slots are cleared for a new game";
  // The whole 4 MiB range is read in a few large pieces, not page by page.
  EXPECT_LE(game.readCalls(), 64);
}

TEST_F(ResolveTest, FailureStopsAtTheMissingSignatureOnly) {
  FakeGame game(/*omitSignature=*/2);
  EXPECT_FALSE(Resolve(game));
  EXPECT_EQ(output, "Problem finding chat info..\n");
  EXPECT_EQ(state.Addresses().ownId, game.layout().ownIdAddress());
  EXPECT_EQ(state.Addresses().chat, 0u);
  EXPECT_EQ(state.Addresses().clients, 0u);
  EXPECT_EQ(state.Addresses().serverAddr, 0u);
}

TEST_F(ResolveTest, EachMissingSignatureHasItsMessage) {
  const char* messages[] = {"Problem finding steam id..\n", "Problem finding chat info..\n",
                            "Problem finding connection info..\n", "Problem finding server info..\n",
                            "Problem finding server address info..\n"};
  for (int omit = 1; omit <= 5; ++omit) {
    FakeGame game(omit);
    EXPECT_FALSE(Resolve(game));
    EXPECT_EQ(output, messages[omit - 1]);
  }
}

}  // namespace
}  // namespace palisard
