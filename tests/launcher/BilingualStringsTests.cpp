// The string table as linked into the launcher, read back through the loader.
#include "launcher/BilingualStrings.h"
#include "resources/resource.h"
#include "support/BoxWatcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

class BilingualStrings : public ::testing::Test {
protected:
    void SetUp() override { setStringModule(GetModuleHandleA(nullptr)); }
    void TearDown() override { g_languageIndex = 1; }

    static std::string load(UINT id, int capacity = 4096)
    {
        std::string buffer(capacity, '\x55');
        LoadBilingualString(id, buffer.data(), capacity);
        return buffer.c_str();
    }
};

TEST_F(BilingualStrings, EnglishHalfByDefault)
{
    EXPECT_EQ(load(IDS_LAUNCH_ERROR_CAPTION, 1024), "An error occured while launching Tovin");
    EXPECT_EQ(load(IDS_INTERNAL_ERROR), "An internal error (%i) occured.");
    EXPECT_EQ(load(IDS_GAME_NOT_FOUND),
              "Unable to find the game (file '%s' not found).\r\nCheck your Tovin installation.");
    EXPECT_EQ(load(IDS_GAME_FILES_CORRUPT),
              "Game files seem to be corrupted.\r\nPlease update your Tovin installation.");
}

// In UTF-8, whatever the code page: the letters are pinned by code point.
TEST_F(BilingualStrings, FrenchHalfWithLanguageZero)
{
    const auto utf8 = [](std::u8string_view text) { return std::string(text.begin(), text.end()); };
    g_languageIndex = 0;
    EXPECT_EQ(load(IDS_LAUNCH_ERROR_CAPTION), "Erreur lors du lancement de Tovin");
    EXPECT_EQ(load(IDS_INTERNAL_ERROR), utf8(u8"Une erreur interne (%i) emp\u00EAche le bon fonctionnement du jeu."));
    EXPECT_EQ(load(IDS_GAME_NOT_FOUND), utf8(u8"Impossible de trouver le jeu (fichier '%s' introuvable). "
                                             u8"\r\nV\u00E9rifiez votre installation de Tovin"));
    // Cut to its room in bytes without splitting a letter: 'e' circumflex is two of them.
    EXPECT_EQ(load(IDS_INTERNAL_ERROR, 29), "Une erreur interne (%i) emp");
    EXPECT_EQ(load(IDS_INTERNAL_ERROR, 30), utf8(u8"Une erreur interne (%i) emp\u00EA"));
}

TEST_F(BilingualStrings, OutputIsCutToItsCapacity)
{
    // At most capacity - 1 characters of the entry are loaded before the split.
    char buffer[48];
    std::memset(buffer, 'x', sizeof buffer);
    LoadBilingualString(IDS_LAUNCH_ERROR_CAPTION, buffer, 40);
    EXPECT_STREQ(buffer, "An er");
    EXPECT_EQ(buffer[6], 'x');
    LoadBilingualString(IDS_LAUNCH_ERROR_CAPTION, buffer, 8);
    EXPECT_STREQ(buffer, "Erreur ");
}

TEST_F(BilingualStrings, MissingEntryIsEmpty)
{
    EXPECT_EQ(load(4242), "");
}

TEST_F(BilingualStrings, LaunchErrorBoxReportsTheLastError)
{
    BoxWatcher watcher;
    std::thread([] {
        SetLastError(ERROR_FILE_NOT_FOUND);
        ShowLaunchError();
    }).join();
    ASSERT_EQ(watcher.boxes().size(), 1u);
    const SeenBox box = watcher.boxes()[0];
    EXPECT_EQ(box.caption, "An error occured while launching Tovin");
    EXPECT_EQ(box.text, "An internal error (2) occured.");
    EXPECT_TRUE(box.hasIcon);
    EXPECT_EQ(box.owner, nullptr);
}

} // namespace
