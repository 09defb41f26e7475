// The Steam client connection, with the fake client library loaded through
// the real registry value (under Wine in the win64 build).
#include "steam/steam_client.h"

#include "tests/steam/fake_client_test_support.h"

namespace {

using nlohmann::json;
using Calls = std::vector<std::string>;

#ifdef _WIN32
const char* const kLibraryMissing =
    "HKCU\\Software\\Valve\\Steam\\ActiveProcess\\SteamClientDll64 is missing -- Steam is not running";
const char* const kLoadFailed = "LoadLibrary(";
#else
const char* const kLibraryMissing =
    "no steamclient.so in ~/.steam/sdk64 or in the Steam folder's linux64 -- is Steam installed and running?";
const char* const kLoadFailed = "dlopen(";
#endif

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
    const std::string interfaces_missing =
        "Steam client did not provide SteamFriends018 / SteamUser023 -- update Steam, or update the vendored SDK";
    const Calls all_three = {"ReleaseUser 7 11", "BReleaseSteamPipe 7", "unload"};
    // fixture null: the registry names `library`
    // error ending in ": ": the start of the text
    const struct {
        const char* name; json fixture; std::filesystem::path library; std::string error; Calls released;
    } rows[] = {
        {"no registry value", nullptr, {}, kLibraryMissing, {}},
        {"not a library", nullptr, text_file, kLoadFailed + client_visible_path(text_file) + ") failed: ", {}},
        {"no CreateInterface export", nullptr, fake_steamclient_path(build_dir(), false),
         fake_steamclient_path(build_dir()).filename().string() + " has no CreateInterface export", {}},
        {"no client interface", {{"offers", {"SteamFriends018", "SteamUser023"}}}, {},
         "Steam client did not provide SteamClient023 -- update Steam, or update the vendored SDK", {"unload"}},
        {"no pipe", {{"pipe", false}}, {}, "CreateSteamPipe failed", {"unload"}},
        {"nobody logged in", {{"logged_in", false}}, {}, "ConnectToGlobalUser failed -- is anyone logged into Steam?",
         {"BReleaseSteamPipe 7", "unload"}},
        {"no user interface", {{"offers", {"SteamClient023", "SteamFriends018"}}}, {}, interfaces_missing, all_three},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.fixture.is_null()) use_fixture(row.fixture);
        if (!row.library.empty()) point_registry_at(row.library);
        const std::size_t before = calls().size();
        SteamConnection c;
        std::string error;
        EXPECT_FALSE(steam_connect(c, error));
        if (row.error.size() > 2 && row.error.substr(row.error.size() - 2) == ": ") {
            EXPECT_EQ(error.substr(0, row.error.size()), row.error);
            EXPECT_GT(error.size(), row.error.size());   // with the loader's reason
        } else {
            EXPECT_EQ(error, row.error);
        }
        EXPECT_EQ(c.library, nullptr);
        EXPECT_EQ(c.client, nullptr);
        EXPECT_EQ(c.pipe + c.steam_user, 0u);
        const Calls all = calls();
        EXPECT_EQ(releases(Calls(all.begin() + static_cast<long>(before), all.end())), row.released);
    }
}

}  // namespace
