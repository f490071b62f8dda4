// The decisions of the settings dialog "Vantor Settings": its value lists,
// the format-change rule, the stop-time text and the checks of OK. The
// dialog window only moves texts and check states in and out.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "recorder/core/Settings.h"

namespace recorder {

// "MPEG-2" 0, "Windows Media 9" 1, "MPEG-1" 2, "Windows Media MPEG4" 3; -1
// for any other text.
int ProtocolOfFormat(const std::string& text);
const char* FormatName(int protocol);  // "" outside 0..3

struct BitrateLists {
    std::vector<std::string> video;
    std::vector<std::string> audio;
    std::string videoSelection;  // empty: no selection
    std::string audioSelection;
};
// The lists of a stored format, with the stored values selected.
BitrateLists ListsForProtocol(int protocol, int videoBitrate, int audioBitrate);
// The format-change rule: the lists and selections a newly chosen format
// text brings; `changed` false for a text that changes nothing.
BitrateLists ListsForFormatChange(const std::string& text, bool& changed);

extern const char* const kFrameRates[6];

// "hh:mm:ss" as seconds; empty text is 0. -1 when the text is not of that
// form (a blank, not 8 characters, or not exactly two ':').
int ParseStopTime(const std::string& text);
// Seconds as "hh:mm:ss"; empty for less than one second.
std::string StopTimeText(int seconds);

// The dialog's controls as OK finds them.
struct DialogFields {
    std::string format;
    bool tonvik = false;            // 1073
    bool hide = false;              // 1065
    bool recordAudio = false;       // 1058
    bool recordVideo = false;       // 1060
    int videoBitrate = 0;           // 1034
    int audioBitrate = 0;           // 1037
    int frameRate = 0;              // 1035
    int maxFileSize = 0;            // 1055 (MB)
    std::string maxFileTime;        // 1056
    bool videoAccel = false;        // 1067
    bool onTop = false;             // 1072
    bool fullScreen = false;        // 1027
    bool audioCompression = false;  // 1062
    int delay = 0;                  // 1109
};

struct OkResult {
    bool accepted = false;
    std::string refusal;     // shown when not accepted and not empty
    bool checkBoth = false;  // neither box was checked: both are now
};

// Validates every field first and applies them to `settings` only when all
// pass; a refused OK leaves `settings` exactly as it was. `ask` puts a yes/no
// question to the user (true: Yes).
OkResult ApplyDialogOk(const DialogFields& fields, Settings& settings,
                       const std::function<bool(const std::string&)>& ask);

}  // namespace recorder
