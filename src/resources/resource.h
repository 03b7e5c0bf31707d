// String table ids of the launcher's bilingual texts (French|English).
#pragma once
#define IDS_GAME_NOT_FOUND 111
#define IDS_LAUNCH_ERROR_CAPTION 112
#define IDS_INTERNAL_ERROR 113
#define IDS_GAME_FILES_CORRUPT 114
#define IDI_LAUNCHER 1
