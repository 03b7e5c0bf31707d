// The one place where the tests spell the launcher's texts out: each is pinned byte for
// byte, so that a text changes only when this file changes with it. Every other test
// takes its texts from the table.
#include "resources/Texts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace texts;

TEST(Texts, AreTheSystemsOwnByteForByte)
{
    const std::pair<std::string, std::string> pinned[] = {
        {kGameWindowTitle, "Tovin  "},
        {kCannotCreateDestination, "Impossible de cr\xE9"
                                   "er le fichier de destination"},
        {kHttpStatusNot200, "Code de retour Http non \xE9"
                            "gal \xE0 200"},
        {kCountCaption, "Alert"},
        {kCountIncorrect, "Nombre de param\xE8tres incorrect : %i"},
        {kCountInsufficient, "Nombre de param\xE8tres insuffisant : %i"},
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
