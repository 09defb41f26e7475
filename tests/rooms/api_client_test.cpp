#include "rooms/api_client.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace {

struct InitResult {
    bool ok;
    std::string error;
    ApiClient client;
};

InitResult init(std::string_view url) {
    InitResult r{false, {}, {}};
    r.ok = api_client_init(r.client, url, r.error);
    return r;
}

TEST(ApiClientInit, RefusesWhatIsNotAnHttpBaseUrl) {
    EXPECT_EQ(init("").error, "the API base URL is empty");
    for (const char* text : {"rooms.example.com", "not a url", "http//x", "://x", "1http://x", "http://a b/",
                             "http://host:99999/", "http://host:8o/", "http://[::1/", "http://a:b:c/",
                             "http://x\n/", "http://ho\"st/"})
        EXPECT_EQ(init(text).error, std::string("not a valid URL: ") + text) << text;
    EXPECT_EQ(init("ftp://files.example.com/").error,
              "the API base URL must be http or https: ftp://files.example.com/");
    EXPECT_EQ(init("http:///v1").error, "the API base URL has no host: http:///v1");
    EXPECT_EQ(init("https://user@:443/").error, "the API base URL has no host: https://user@:443/");
    for (const char* text : {"", "ftp://x", "nonsense"}) EXPECT_EQ(init(text).client.session, nullptr);
}

TEST(ApiClientInit, SplitsHostPortAndBasePath) {
    InitResult r = init("https://rooms.example.com");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(r.client.session, nullptr);
    EXPECT_TRUE(r.client.secure);
    EXPECT_EQ(r.client.port, 443);
    EXPECT_EQ(r.client.host, L"rooms.example.com");
    EXPECT_EQ(r.client.base_path, L"");
    api_client_close(r.client);
    EXPECT_EQ(r.client.session, nullptr);
    EXPECT_EQ(r.client.host, L"");

    r = init("HTTP://127.0.0.1:8080/api///");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.client.secure);
    EXPECT_EQ(r.client.port, 8080);
    EXPECT_EQ(r.client.host, L"127.0.0.1");
    EXPECT_EQ(r.client.base_path, L"/api");
    api_client_close(r.client);

    r = init("http://user:pw@[::1]/");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.client.host, L"::1");
    EXPECT_EQ(r.client.port, 80);
    EXPECT_EQ(r.client.base_path, L"");
    api_client_close(r.client);

    r = init("https://räume.example:444/v/ä/");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.client.host, utf8_to_wide("räume.example"));
    EXPECT_EQ(r.client.base_path, utf8_to_wide("/v/ä"));
    api_client_close(r.client);
}

TEST(ApiClientPost, WithoutSessionSaysSo) {
    InitResult failed = init("ftp://x");
    std::uint32_t status = 7;
    std::string body = "old", error;
    EXPECT_FALSE(api_post(failed.client, "/v1/matches", "{}", status, body, error));
    EXPECT_EQ(error, "the API client is not initialised");
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(body, "");
}

}  // namespace
