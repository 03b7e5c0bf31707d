// The one place where the tests spell the launcher's texts out: each is pinned byte for
// byte, so that a text changes only when this file changes with it. Every other test
// takes its texts from the table.
#include "resources/Texts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace texts;

// A UTF-8 literal's bytes: the compiler writes \u00E9 as UTF-8 whatever the source's
// encoding or the execution character set, so the letters are pinned by code point.
template <std::size_t N>
std::string utf8(const char8_t (&literal)[N])
{
    return std::string(reinterpret_cast<const char*>(literal), N - 1);
}

TEST(Texts, AreTheSystemsOwnByteForByte)
{
    const std::pair<std::string, std::string> pinned[] = {
        {kGameWindowTitle, "Tovin  "},
        {kCannotCreateDestination, utf8(u8"Impossible de cr\u00E9er le fichier de destination")},
        {kHttpStatusNot200, utf8(u8"Code de retour Http non \u00E9gal \u00E0 200")},
        {kCountCaption, "Alert"},
        {kCountIncorrect, utf8(u8"Nombre de param\u00E8tres incorrect : %i")},
        {kCountInsufficient, utf8(u8"Nombre de param\u00E8tres insuffisant : %i")},
        {kAllFilesName, "All Files"},
        {kAllFilesPattern, "*.*"},
        {kReceiveCaption, "LocalCOnnection"},
        {kReceiveUnmapFailed, "UnmapViewOfFile failed"},
        {kReceiveCloseFailed, "CloseHandle failed"},
        {kReceiveReleaseFailed, "ReleaseMutex failed"},
        {kReceiveThreadEnded, "Sortie de la routine du thread"},
        {kRegisterCaption, "LocalConnection"},
        {kRegisteringFailed, "Registering failed"},
        {kDecodeCaption, "deserializeRemoteCall"},
        {kHeaderNotString, "Parametre %i de type non String : %i"},
        {kSendCaption, "LocalConnection:call"},
        {kSendWaitAbandoned, "Wait abandonned"},
        {kSendMapFailed, "MapViewOfFile Failed"},
        {kSendNoRecipient, "No connected Recipient"},
        {kSendUnmapFailed, "UnmapViewOfFile failed"},
        {kSendCloseSectionFailed, "Close handle Failed"},
        {kSendReleaseFailed, "Release Mutex Failed"},
        {kSendCloseMutexFailed, "Close Handle Failed"},
        {kNullNameAssertion, "Assertion failed (connectionName != NULL) at %s (%d)"},
    };
    for (const auto& [table, expected] : pinned)
        EXPECT_EQ(table, expected);
}

} // namespace
