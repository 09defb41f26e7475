// Known answers computed outside the agent, with
//   printf '%s' "<joined text>" | sha256sum
// The same values must come out natively (OpenSSL) and under Wine (CNG).
#include "roster/room_key.h"
#include "roster/sha256.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

std::vector<std::uint64_t> one_to_ten() { return {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}; }

// Ten account ids as the Steam client reports them, in no particular order.
std::vector<std::uint64_t> real_ten() {
    return {76561198056789012ULL, 76561197960287930ULL, 76561199087654321ULL,
            76561198012345678ULL, 76561197979411111ULL, 76561198123456789ULL,
            76561197968052866ULL, 76561198078901234ULL, 76561197995022222ULL,
            76561198034567890ULL};
}

}  // namespace

TEST(Sha256, KnownDigests) {
    // printf '%s' "" | sha256sum
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // printf '%s' "abc" | sha256sum
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(RoomKey, OneToTenInAnyOrder) {
    // joined text: 1,10,2,3,4,5,6,7,8,9
    // sha256:      8444aad1895138f175d75bb4270af99182e89dede8d984e3788f423ef2489f58
    const std::string expected = "8444aad1895138f175d75bb4270af991";
    std::vector<std::uint64_t> ids = one_to_ten();
    EXPECT_EQ(room_key_text(ids), "1,10,2,3,4,5,6,7,8,9");
    EXPECT_EQ(derive_room_key(ids), expected);

    std::reverse(ids.begin(), ids.end());
    EXPECT_EQ(derive_room_key(ids), expected);
    EXPECT_EQ(derive_room_key({7, 3, 10, 1, 9, 2, 8, 5, 4, 6}), expected);
    EXPECT_EQ(derive_room_key({2, 3, 4, 5, 6, 7, 8, 9, 10, 1}), expected);
}

TEST(RoomKey, OneMemberChangedGivesAnotherKey) {
    // joined text: 1,10,2,3,4,5,6,7,8,11 sorts to 1,10,11,2,3,4,5,6,7,8
    std::vector<std::uint64_t> ids = one_to_ten();
    ids[8] = 11;   // 9 replaced by 11
    EXPECT_EQ(room_key_text(ids), "1,10,11,2,3,4,5,6,7,8");
    EXPECT_NE(derive_room_key(ids), derive_room_key(one_to_ten()));
}

TEST(RoomKey, RealSteamIds) {
    // joined text: 76561197960287930,76561197968052866,76561197979411111,76561197995022222,
    //   76561198012345678,76561198034567890,76561198056789012,76561198078901234,
    //   76561198123456789,76561199087654321   (one line, no blanks)
    // sha256: 6ba4ce53e59cd4e80935838f40b41e24b63294fcd94bee5de86c7c187d3c6073
    std::vector<std::uint64_t> ids = real_ten();
    EXPECT_EQ(room_key_text(ids),
              "76561197960287930,76561197968052866,76561197979411111,76561197995022222,"
              "76561198012345678,76561198034567890,76561198056789012,76561198078901234,"
              "76561198123456789,76561199087654321");
    const std::string key = derive_room_key(ids);
    EXPECT_EQ(key, "6ba4ce53e59cd4e80935838f40b41e24");
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(derive_room_key(ids), key);
    EXPECT_EQ(key.size(), 32u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(RoomKey, EmptyListAndMixedLengths) {
    // joined text: (nothing) - the digest of zero bytes
    EXPECT_EQ(derive_room_key({}), "e3b0c44298fc1c149afbf4c8996fb924");
    // joined text: 0,18446744073709551615
    // sha256: b63627924a4a2fac9b76c893011da6afd7a9a8eba41e07a0aa28fb0e8f6b3a65
    EXPECT_EQ(derive_room_key({18446744073709551615ULL, 0}), "b63627924a4a2fac9b76c893011da6af");
    // joined text: 1,10,100,2,20 (byte order, a prefix sorts first)
    // sha256: 0c5794d195451e3c94a1f58d70f417ac7ed4698964a1eb8b7473514feedd1bdd
    EXPECT_EQ(derive_room_key({20, 2, 100, 10, 1}), "0c5794d195451e3c94a1f58d70f417ac");
}
