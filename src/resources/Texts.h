// Every text the launcher shows or answers, in one place, byte for byte as players and
// games have always had them (odd spellings included: "LocalCOnnection", "abandonned").
// Texts are UTF-8, as the wire carries them and as the boxes get them in UTF-16, on
// every code page. Letters beyond ASCII are written as their UTF-8 bytes in escapes, so
// that no source encoding can change them: \xC3\xA9 is e acute, \xC3\xA8 e grave, \xC3\xA0
// a grave. The start-up error box's bilingual texts are in strings.rc.
// tests/resources/TextsTests.cpp pins each one; change a text here and there, nowhere else.
#pragma once

namespace texts {

// The title given to the game's window.
constexpr char kGameWindowTitle[] = "Tovin  ";

// Answers to the game: the first argument of onHttpDownloadError.
constexpr char kCannotCreateDestination[] = "Impossible de cr\xC3\xA9"
                                            "er le fichier de destination";
constexpr char kHttpStatusNot200[] = "Code de retour Http non \xC3\xA9"
                                     "gal \xC3\xA0 200";

// The services' argument-count boxes (no icon); %i is the count after the reply name.
constexpr char kCountCaption[] = "Alert";
constexpr char kCountIncorrect[] = "Nombre de param\xC3\xA8tres incorrect : %i";
constexpr char kCountInsufficient[] = "Nombre de param\xC3\xA8tres insuffisant : %i";

// The open dialog's one file type when the game's list is not a list.
constexpr char kAllFilesName[] = "All Files";
constexpr char kAllFilesPattern[] = "*.*";

// Boxes of the receive thread.
constexpr char kReceiveCaption[] = "LocalCOnnection";
constexpr char kReceiveUnmapFailed[] = "UnmapViewOfFile failed";
constexpr char kReceiveCloseFailed[] = "CloseHandle failed"; // the section's handle or the mutex's
constexpr char kReceiveReleaseFailed[] = "ReleaseMutex failed";
constexpr char kReceiveThreadEnded[] = "Sortie de la routine du thread";
constexpr char kRegisterCaption[] = "LocalConnection";
constexpr char kRegisteringFailed[] = "Registering failed";
constexpr char kDecodeCaption[] = "deserializeRemoteCall";
// %i: always 1, then the marker found where a header string should be.
constexpr char kHeaderNotString[] = "Parametre %i de type non String : %i";

// Boxes of a send.
constexpr char kSendCaption[] = "LocalConnection:call";
constexpr char kSendWaitAbandoned[] = "Wait abandonned";
constexpr char kSendMapFailed[] = "MapViewOfFile Failed";
constexpr char kSendNoRecipient[] = "No connected Recipient";
constexpr char kSendUnmapFailed[] = "UnmapViewOfFile failed";
constexpr char kSendCloseSectionFailed[] = "Close handle Failed";
constexpr char kSendReleaseFailed[] = "Release Mutex Failed";
constexpr char kSendCloseMutexFailed[] = "Close Handle Failed";

// Written to standard output before a connector made without a name ends the process;
// %s and %d: the source file's name and line.
constexpr char kNullNameAssertion[] = "Assertion failed (connectionName != NULL) at %s (%d)";

} // namespace texts
