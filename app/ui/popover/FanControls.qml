import QtQuick
import QtQuick.Layouts
import Zephro.Ui
import Zephro.ViewModel
import "Style.js" as Style

// What a connected machine with fans shows: one slider per fan, the three mode buttons,
// the presets and the curves.
Column {
    id: section

    required property FanControlViewModel viewModel
    required property QtObject settings
    property QtObject loc
    property bool reduceMotion: false

    readonly property QtObject presetStore: viewModel.presetStore
    readonly property QtObject curveStore: viewModel.curveStore
    readonly property bool presetActive: presetStore.activePresetID.length > 0
                                         || curveStore.activeCurveID.length > 0
    // The sliders move only in plain manual mode; the mode buttons or a preset lead there.
    readonly property bool slidersEnabled: viewModel.activeMode === FanControlViewModel.Manual
                                           && !presetActive

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    spacing: 16

    Column {
        width: section.width
        spacing: 14

        Repeater {
            model: section.viewModel.fans

            FanSliderRow {
                required property var modelData
                required property int index

                objectName: "fanRow" + index
                width: section.width
                title: section.loc ? (section.loc.revision,
                                      section.loc.format("popover_fan_index", [index + 1]))
                                   : "Fan " + (index + 1)
                rpm: Math.trunc(modelData.currentRPM)
                percentage: index < section.viewModel.sliderPercentages.length
                            ? section.viewModel.sliderPercentages[index] : 25
                fineTune: section.settings.fineTuneManualOverride
                reduceMotion: section.reduceMotion
                enabled: section.slidersEnabled
                onCommitted: value => section.viewModel.commitPercentage(index, value)
            }
        }
    }

    RowLayout {
        width: section.width
        spacing: 10

        Repeater {
            model: [
                { mode: FanControlViewModel.System, key: "popover_auto",
                  symbol: "arrow.triangle.2.circlepath" },
                { mode: FanControlViewModel.Manual, key: "popover_manual", symbol: "hand.tap" },
                { mode: FanControlViewModel.Max, key: "popover_max", symbol: "wind" }
            ]

            GlassButton {
                required property var modelData

                objectName: "mode_" + modelData.key
                text: section.text(modelData.key)
                symbolName: modelData.symbol
                showSymbol: section.settings.showModeSymbols
                isActive: section.viewModel.activeMode === modelData.mode && !section.presetActive
                tint: modelData.mode === FanControlViewModel.Max ? Style.maxRed
                                                                 : section.palette.highlight
                disableLiquidGlass: section.settings.disableLiquidGlass
                reduceMotion: section.reduceMotion
                // Equal thirds whatever the labels' lengths.
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                onClicked: section.viewModel.selectMode(modelData.mode)
            }
        }
    }

    Column {
        objectName: "presets"
        width: section.width
        spacing: 8
        enabled: !section.viewModel.isApplyingChange

        Rectangle {
            width: parent.width
            height: 1
            color: Style.withAlpha(section.palette.windowText, 0.12)
        }
        Text {
            topPadding: 0
            text: section.text("popover_preset")
            font.pixelSize: Style.body
            font.weight: Font.Medium
            color: section.palette.windowText
        }
        Text {
            objectName: "noPresets"
            visible: section.presetStore.presets.length === 0
                     && section.curveStore.curves.length === 0
            text: section.text("preset_nothing_to_show")
            font.pixelSize: Style.caption
            color: Theme.secondaryText(section.palette)
        }
        Column {
            width: parent.width

            Repeater {
                model: section.presetStore.presets

                PresetRowView {
                    required property var modelData
                    required property int index

                    objectName: "preset" + index
                    // Level with the menu entries: the wash reaches into the side margins.
                    x: -12
                    width: section.width + 24
                    name: modelData.name
                    symbol: modelData.symbol
                    isSelected: modelData.id === section.presetStore.activePresetID
                    disableLiquidGlass: section.settings.disableLiquidGlass
                    selectedText: section.text("popover_selected")
                    notSelectedText: section.text("popover_not_selected")
                    onClicked: section.viewModel.applyPresetWithID(modelData.id)
                }
            }
            Repeater {
                model: section.curveStore.curves

                PresetRowView {
                    required property var modelData
                    required property int index

                    objectName: "curve" + index
                    x: -12
                    width: section.width + 24
                    name: modelData.name
                    symbol: modelData.symbol.length > 0 ? modelData.symbol : "thermometer.sun"
                    isSelected: modelData.id === section.curveStore.activeCurveID
                    disableLiquidGlass: section.settings.disableLiquidGlass
                    selectedText: section.text("popover_selected")
                    notSelectedText: section.text("popover_not_selected")
                    onClicked: section.viewModel.applyCurveWithID(modelData.id)
                }
            }
        }
    }
}
