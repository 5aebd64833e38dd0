#pragma once
// The main window's fixed layout, captions and hints, in twips.

#include "values/display_texts.h"
#include "values/parameter_entry.h"

#include <array>

namespace kelvaro::main_layout {

struct Box
{
    int left, top, width, height;
};

struct Placed
{
    Box box;
    const char* text; // caption or hint
};

inline constexpr int ClientWidth = 9720;
inline constexpr int WideClientWidth = 10770;
inline constexpr int ClientHeight = 6855;
inline constexpr int PictureHeight = 6525;
inline constexpr int StatusTop = 6540;
inline constexpr int StatusHeight = 315;

inline constexpr Box ResetButton{4740, 180, 1755, 375};
inline constexpr const char* ResetCaption = "Reset AT90S2313";

// Txt_Inputs(0..9): position and hint.
inline constexpr std::array<Placed, 10> Inputs{{
    {{6360, 1680, 855, 315}, "Low Setpoint Raising (Range between -6,00 and 46,00 Celsious)"},
    {{5160, 3360, 855, 315}, "Lower Setpoint Hysterisis (Range between 0,01 and 2,55 Celsious)"},
    {{3120, 3840, 855, 315}, "Lower Setpoint (Range between -6,00 and 46,00 Celsious)"},
    {{1380, 1680, 855, 315}, "Low Setpoint Falling (Range between -6,00 and 46,00 Celsious)"},
    {{1500, 5160, 855, 315}, "Low Relay Time Off Duration (Range between 0:01 and 59:00)"},
    {{1500, 4560, 855, 315}, "Low Relay Time On Duration (Range between 0:01 and 59:00)"},
    {{3300, 5160, 855, 315}, "Lower Relay Time Off Duration (Range between 0:01 and 59:00)"},
    {{3300, 4560, 855, 315}, "Lower Relay Time On Duration (Range between 0:01 and 59:00)"},
    {{8100, 5760, 675, 315},
     "Operation Modes (2^1=Normal 3min, 2^2=Rasing times 3min, 2^3=Falling times 3min )"},
    {{7740, 1680, 855, 315}, "Lower Time On Duration (Range between 0:01 and 59:00)"},
}};

// Lbl_Outputs(0..7): position and hint.
inline constexpr std::array<Placed, 8> Outputs{{
    {{8580, 3420, 1065, 315}, "Actual Temperature in Celsious"},
    {{8580, 2700, 1005, 315}, "Measurement form NE555 in usec"},
    {{8580, 3780, 1065, 315}, "Average Actual Temperature in Celsious"},
    {{1260, 3180, 645, 315}, "Lower Mode Actual "},
    {{1500, 5820, 645, 315}, "Relay Output Status"},
    {{1260, 3540, 645, 315}, "Low Mode Actual "},
    {{8700, 4680, 945, 315}, "Time Off for Relay Output"},
    {{8700, 4320, 945, 315}, "Time On for Relay Output"},
}};

// Label1(0..20): the fixed bold captions.
inline constexpr std::array<Placed, 21> Captions{{
    {{5220, 1620, 1155, 495}, EntryBoxes[0].caption},
    {{3600, 3420, 1515, 255}, EntryBoxes[1].caption},
    {{1740, 3900, 1335, 255}, EntryBoxes[2].caption},
    {{240, 1620, 1155, 435}, EntryBoxes[3].caption},
    {{1200, 4920, 1215, 255}, EntryBoxes[4].caption},
    {{1200, 4320, 1215, 255}, EntryBoxes[5].caption},
    {{2820, 4920, 1395, 255}, EntryBoxes[6].caption},
    {{2820, 4320, 1395, 255}, EntryBoxes[7].caption},
    {{6780, 3480, 1785, 255}, OutputCaptions[0]},
    {{7380, 2760, 1125, 255}, OutputCaptions[1]},
    {{6600, 3840, 1965, 255}, OutputCaptions[2]},
    {{5340, 2160, 1275, 795},
     "To disable give a setpoint bigger than 46,00 \u00B0C or 114,80 \u00B0F"},
    {{420, 2160, 1275, 795},
     "To disable give a setpoint bigger than 46,00 \u00B0C or 114,80 \u00B0F"},
    {{300, 5880, 1155, 255}, OutputCaptions[4]},
    {{2940, 5580, 1275, 795}, "To enable Continue Relay Time Off 0:00"},
    {{60, 3240, 1155, 255}, OutputCaptions[3]},
    {{6540, 5820, 1515, 255}, EntryBoxes[8].caption},
    {{60, 3600, 1155, 255}, OutputCaptions[5]},
    {{7500, 4740, 1155, 255}, OutputCaptions[6]},
    {{7500, 4380, 1155, 255}, OutputCaptions[7]},
    {{7680, 2160, 1035, 255}, EntryBoxes[9].caption},
}};

// Which caption names each entry box and each value label (for accessibility).
inline constexpr std::array<int, 10> InputCaption{0, 1, 2, 3, 4, 5, 6, 7, 16, 20};
inline constexpr std::array<int, 8> OutputCaption{8, 9, 10, 15, 13, 17, 18, 19};
constexpr bool captionsNameTheirControls()
{
    for (std::size_t i = 0; i < InputCaption.size(); ++i) {
        if (Captions[std::size_t(InputCaption[i])].text != EntryBoxes[i].caption)
            return false;
    }
    for (std::size_t i = 0; i < OutputCaption.size(); ++i) {
        if (Captions[std::size_t(OutputCaption[i])].text != OutputCaptions[i])
            return false;
    }
    return true;
}
static_assert(captionsNameTheirControls());

// Lbl_DirectRead(0..19): one column; a gap separates measurement and parameter words.
inline constexpr int DirectLeft = 9780;
inline constexpr int DirectWidth = 915;
inline constexpr int DirectHeight = 315;
constexpr int directTop(int k)
{
    return k < 10 ? 240 + 300 * k : 3360 + 300 * (k - 10);
}

inline constexpr std::array<const char*, 20> DirectHints{
    "High Byte: Relay Status, Low Byte: NE555 Measurement Counter",
    "Integer: Actual Temperature Value",
    "High Byte: Low Setpoint Status, Low Byte: Lower Setpoint Status",
    "Unsigned Integer: Spare",
    "High Byte: Spare, Low Byte: Spare",
    "Unsigned Integer: NE555 Measurement Duration Pulse",
    "Unsigned Integer: Running Time Relay On",
    "Unsigned Integer: Running Time Relay Off",
    "Integer: Actual Average Temperature Value",
    "High Byte: Spare, Low Byte: Spare",
    "High Byte: Hysterisis Low Setpoint, Low Byte: Hysterisis Lower Setpoint",
    "Integer: Setpoint Lower",
    "Unsigned Integer: Lower Set Time Relay On",
    "Unsigned Integer: Lower Set Time Relay Off",
    "Integer: Setpoint Low",
    "Unsigned Integer: Low Set Time Relay On",
    "Unsigned Integer: Low Set Time Relay Off",
    "Unsigned Integer: Spare",
    "Unsigned Integer: Spare",
    "High Byte: Operation Modes, Low Byte: NE555 Set Period",
};

// Status bar panel widths.
inline constexpr std::array<int, 5> PanelWidths{3115, 2200, 2500, 1000, 800};

} // namespace kelvaro::main_layout
