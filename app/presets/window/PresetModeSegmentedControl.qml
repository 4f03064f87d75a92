import QtQuick
import Zephro.Ui

// The kind control: percentage on the left, RPM on the right.
SegmentedControl {
    // "percentage" or "rpm".
    property string mode
    property string percentageText
    property string rpmText

    signal modeChosen(string mode)

    value: mode
    segments: [
        { value: "percentage", text: percentageText },
        { value: "rpm", text: rpmText }
    ]
    onChosen: picked => modeChosen(picked)
}
