// The Steam client connection, with the fake client library loaded through
// the real registry value (under Wine in the win64 build).
#include "steam/steam_client.h"

#include "tests/steam/fake_client_test_support.h"

namespace {

using nlohmann::json;
using Calls = std::vector<std::string>;

using SteamClientTest = FakeSteamTest;

// Release, pipe and unload calls, in order.
Calls releases(const Calls& all) {
    Calls out;
    for (const std::string& call : all)
        if (call.rfind("Release", 0) == 0 || call.rfind("BRelease", 0) == 0 || call == "unload") out.push_back(call);
    return out;
}

TEST_F(SteamClientTest, ConnectsReadsTheUserAndReleasesOnce) {
    use_fixture({{"self", {{"steamid", "76561198012345678"}, {"persona", "Zoë ✦ 名前"}}}});
    // From a folder with non-ASCII letters: the path must reach the loader as UTF-16.
    const auto copy = dir_ / path_from_utf8("Stéam ü") / fake_steamclient_path(build_dir()).filename();
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(fake_steamclient_path(build_dir()), copy);
    point_registry_at(copy);
    {
        SteamConnection c;
        std::string error;
        ASSERT_TRUE(steam_connect(c, error)) << error;
        EXPECT_EQ(c.self_steamid, 76561198012345678ull);   // through the hidden result pointer on Windows
        EXPECT_EQ(steam_self_persona(c), "Zoë ✦ 名前");
        EXPECT_EQ(calls("GetISteam"), (Calls{"GetISteamFriends 11 7 SteamFriends018", "GetISteamUser 11 7 SteamUser023"}));
        steam_release(c);
        EXPECT_EQ(c.library, nullptr);
        steam_release(c);   // the second release finds nothing to do
        EXPECT_EQ(releases(calls()), (Calls{"ReleaseUser 7 11", "BReleaseSteamPipe 7", "unload"}));
        ASSERT_TRUE(steam_connect(c, error)) << error;
    }   // destroying it releases it
    EXPECT_EQ(releases(calls()).size(), 6u);
}

TEST_F(SteamClientTest, EveryFailureSaysWhyAndReleasesWhatWasOpened) {
    const std::filesystem::path text_file = dir_ / "steamclient64.dll";
    write_test_file(text_file, "this is not a library\n");
    // fixture null: the registry names `library`; why: a part of the error
    const struct { const char* name; json fixture; std::filesystem::path library; std::string why; Calls released; } rows[] = {
        {"no registry value", nullptr, {}, "running", {}},
        {"not a library", nullptr, text_file, client_visible_path(text_file) + ") failed: ", {}},
        {"no CreateInterface export", nullptr, fake_steamclient_path(build_dir(), false), "has no CreateInterface export", {}},
        {"no client interface", {{"offers", {"SteamFriends018", "SteamUser023"}}}, {}, "provide SteamClient023 --", {"unload"}},
        {"no pipe", {{"pipe", false}}, {}, "CreateSteamPipe failed", {"unload"}},
        {"nobody logged in", {{"logged_in", false}}, {}, "ConnectToGlobalUser failed", {"BReleaseSteamPipe 7", "unload"}},
        {"no user interface", {{"offers", {"SteamClient023", "SteamFriends018"}}}, {}, "provide SteamFriends018 / SteamUser023",
         {"ReleaseUser 7 11", "BReleaseSteamPipe 7", "unload"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.fixture.is_null()) use_fixture(row.fixture);
        if (!row.library.empty()) point_registry_at(row.library);
        const std::size_t before = calls().size();
        SteamConnection c;
        std::string error;
        EXPECT_FALSE(steam_connect(c, error));
        EXPECT_NE(error.find(row.why), std::string::npos) << error;
        EXPECT_EQ(c.library, nullptr);
        EXPECT_EQ(c.client, nullptr);
        EXPECT_EQ(c.pipe, 0u);
        EXPECT_EQ(c.steam_user, 0u);
        const Calls all = calls();
        EXPECT_EQ(releases(Calls(all.begin() + static_cast<long>(before), all.end())), row.released);
    }
}

}  // namespace
