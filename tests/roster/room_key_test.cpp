// Known answers computed outside the agent, with
//   printf '%s' "<joined text>" | sha256sum
// The same values must come out natively (OpenSSL) and under Wine (CNG).
#include "roster/room_key.h"
#include "roster/sha256.h"

#include <algorithm>
#include <gtest/gtest.h>

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(RoomKey, KnownAnswersInAnyOrder) {
    struct Case {
        const char* guards;
        std::vector<std::uint64_t> ids;
        const char* joined;
        const char* key;
    };
    const Case cases[] = {
        {"ids are joined in byte order, not numeric order", {7, 3, 10, 1, 9, 2, 8, 5, 4, 6},
         "1,10,2,3,4,5,6,7,8,9", "8444aad1895138f175d75bb4270af991"},
        {"one member changed gives another key", {1, 2, 3, 4, 5, 6, 7, 8, 11, 10},
         "1,10,11,2,3,4,5,6,7,8", "3a793c658ad5ea5442e125c640801ad6"},
        {"real SteamID64s",
         {76561198056789012ULL, 76561197960287930ULL, 76561199087654321ULL, 76561198012345678ULL,
          76561197979411111ULL, 76561198123456789ULL, 76561197968052866ULL, 76561198078901234ULL,
          76561197995022222ULL, 76561198034567890ULL},
         "76561197960287930,76561197968052866,76561197979411111,76561197995022222,76561198012345678,"
         "76561198034567890,76561198056789012,76561198078901234,76561198123456789,76561199087654321",
         "6ba4ce53e59cd4e80935838f40b41e24"},
        {"no ids: the digest of zero bytes", {}, "", "e3b0c44298fc1c149afbf4c8996fb924"},
        {"the widest and the narrowest id", {18446744073709551615ULL, 0}, "0,18446744073709551615",
         "b63627924a4a2fac9b76c893011da6af"},
        {"a prefix sorts first", {20, 2, 100, 10, 1}, "1,10,100,2,20", "0c5794d195451e3c94a1f58d70f417ac"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_EQ(room_key_text(c.ids), c.joined);
        EXPECT_EQ(derive_room_key(c.ids), c.key);
        std::vector<std::uint64_t> reversed(c.ids.rbegin(), c.ids.rend());
        EXPECT_EQ(derive_room_key(reversed), c.key);
    }
}
