#include "download/WireUrl.h"

#include <gtest/gtest.h>

namespace {

// Stands in for the system's IDNA conversion: one name it knows, the others it cannot.
std::string knownHost(std::string_view host)
{
    return host == "\xC3\xA9t\xC3\xA9.example" ? "xn--t-9fab.example" : "";
}

TEST(WireUrl, AsciiGoesOutAsItCame)
{
    for (const char* url : {"http://127.0.0.1:8080/body/64?a=b c&d=%41#top", "", "no scheme at all"})
        EXPECT_EQ(wireUrl(url, knownHost), url);
}

// As a browser sends it: the UTF-8 bytes beyond ASCII percent-encoded in the path, the
// query and wherever else, the host name in its ASCII form.
TEST(WireUrl, BeyondAsciiIsPercentEncodedAndTheHostMapped)
{
    EXPECT_EQ(wireUrl("http://h:81/dl/\xD0\x97 \xC3\xA9t\xC3\xA9?q=\xE3\x83\x80", knownHost),
              "http://h:81/dl/%D0%97 %C3%A9t%C3%A9?q=%E3%83%80");
    EXPECT_EQ(wireUrl("https://user:pw@\xC3\xA9t\xC3\xA9.example:8443/\xC3\xA9", knownHost),
              "https://user:pw@xn--t-9fab.example:8443/%C3%A9");
    EXPECT_EQ(wireUrl("http://\xC3\xA9t\xC3\xA9.example", knownHost), "http://xn--t-9fab.example");
    // A name with no ASCII form stays beyond reach: percent-encoded, it resolves nowhere.
    EXPECT_EQ(wireUrl("http://\xD0\x97.example/a", knownHost), "http://%D0%97.example/a");
    EXPECT_EQ(wireUrl("http://\xD0\x97.example/a", nullptr), "http://%D0%97.example/a");
    EXPECT_EQ(wireUrl("http://[::1]:80/\xC3\xA9", knownHost), "http://[::1]:80/%C3%A9");
}

// The same rule as everything that goes to Windows: one U+FFFD an ill-formed part.
TEST(WireUrl, InvalidUtf8GoesOutAsReplacementCharacters)
{
    EXPECT_EQ(wireUrl("http://h/a\xFF"
                      "b\xC3",
                      knownHost),
              "http://h/a%EF%BF%BDb%EF%BF%BD");
}

} // namespace
