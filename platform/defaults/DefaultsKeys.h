#pragma once

namespace zephro::defaults {

// A Boolean setting: its key and the value a reader uses while nothing is stored.
struct BoolKey {
  const char* name;
  bool fallback;
};

// A text setting: its key and the text a reader uses while nothing is stored.
struct TextKey {
  const char* name;
  const char* fallback;
};

// A data setting; nothing stored reads as no data.
struct DataKey {
  const char* name;
};

// Display and behaviour preferences, one flat key each.
inline constexpr BoolKey showRPMInMenuBar{"showRPMInMenuBar", false};
inline constexpr BoolKey showTempInMenuBar{"showTempInMenuBar", false};
// The only key registered as a fallback, by the view model when it is made.
inline constexpr BoolKey showIconInMenuBar{"showIconInMenuBar", true};
inline constexpr BoolKey useFahrenheit{"useFahrenheit", false};
inline constexpr TextKey appearanceMode{"appearanceMode", "system"};
// The popover binds these two with its own fallbacks; nothing registers them.
inline constexpr BoolKey showModeSymbols{"showModeSymbols", true};
inline constexpr BoolKey disableLiquidGlass{"disableLiquidGlass", false};
inline constexpr BoolKey fineTuneManualOverride{"fineTuneManualOverride", false};
inline constexpr BoolKey hasSeenOnboarding{"hasSeenOnboarding", false};

// The interface language as an AppLanguage raw value; absent until the user picks one.
inline constexpr TextKey appLanguage{"appLanguage", "system"};

// The preset list as a UTF-8 JSON array.
inline constexpr DataKey fanPresets{"fanPresets"};
// The fan curves as a UTF-8 JSON array; a key of their own, so "fanPresets" keeps its form.
inline constexpr DataKey fanCurves{"fanCurves"};
// Never used for storage: the preset store removes it at every start.
inline constexpr const char* activePresetID = "activePresetID";
// The original bytes of a preset list that could not be read in full.
inline constexpr DataKey fanPresetsBackup{"fanPresetsBackup"};

}  // namespace zephro::defaults
