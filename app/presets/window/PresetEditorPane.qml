import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Zephro.Ui
import Zephro.Presets
import "Style.js" as Style

// The editor of one preset: its heading, then name, icon, kind and value beside their
// labels, the message of the first rule they break, and the save button.
Item {
    id: pane

    required property PresetEditor editor
    property QtObject loc
    readonly property alias nameField: nameField
    readonly property alias valueField: valueField
    readonly property alias symbolPicker: iconButton.picker

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    function formatted(value) {
        return Number(value).toLocaleString(Qt.locale(), "f", 0)
    }

    // The stored name of the selected preset, for the heading.
    readonly property string selectedName: {
        const rows = editor.rows
        for (let i = 0; i < rows.length; ++i) {
            if (!rows[i].isUnsaved && rows[i].id === editor.selectedPresetID)
                return rows[i].name
        }
        return ""
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        spacing: 14

        Column {
            spacing: 2
            Layout.fillWidth: true

            Text {
                objectName: "editorHeading"
                width: parent.width
                text: pane.editor.isCreatingNew ? pane.text("preset_new")
                      : pane.selectedName.length > 0 ? pane.selectedName
                                                     : pane.text("preset_sidebar_title")
                font.pixelSize: Style.title
                font.bold: true
                color: pane.palette.windowText
                elide: Text.ElideRight
            }
            Text {
                objectName: "editorValueText"
                text: pane.editor.valueText(pane.editor.editingMode, pane.editor.editingValue)
                font.pixelSize: Style.body
                color: Theme.secondaryText(pane.palette)
            }
        }

        Rectangle {
            height: 1
            color: Style.separator(pane.palette)
            Layout.fillWidth: true
        }

        PresetEditorRow {
            label: pane.text("preset_name_label")
            Layout.fillWidth: true

            TextField {
                id: nameField

                objectName: "nameField"
                width: Math.min(300, parent.width)
                implicitHeight: 28
                padding: 6
                placeholderText: pane.text("preset_name_placeholder")
                placeholderTextColor: Theme.secondaryText(pane.palette)
                text: pane.editor.editingName
                font.pixelSize: Style.body
                onTextEdited: pane.editor.editingName = text
                onAccepted: pane.editor.save()
            }
        }

        PresetEditorRow {
            label: pane.text("preset_icon_label")
            Layout.fillWidth: true

            SymbolChooserButton {
                id: iconButton

                editor: pane.editor
                loc: pane.loc
                Accessible.name: pane.text("preset_icon_label")
            }
        }

        PresetEditorRow {
            label: pane.text("preset_type_label")
            Layout.fillWidth: true

            PresetModeSegmentedControl {
                objectName: "modeControl"
                mode: pane.editor.editingMode
                percentageText: pane.text("preset_percentage")
                rpmText: pane.text("preset_rpm")
                onModeChosen: mode => pane.editor.editingMode = mode
            }
        }

        PresetEditorRow {
            label: pane.text("preset_value_label")
            Layout.fillWidth: true

            Column {
                spacing: 4

                Row {
                    spacing: 6

                    TextField {
                        id: valueField

                        // The value as typed, or NaN when it is no whole number.
                        function parsed() {
                            try {
                                const value = Number.fromLocaleString(Qt.locale(), text)
                                return Number.isInteger(value) ? value : NaN
                            } catch (error) {
                                return NaN
                            }
                        }
                        // Shows the editor's value, unless the field already reads it while
                        // the user types.
                        function show() {
                            if (!(activeFocus && parsed() === pane.editor.editingValue))
                                text = pane.formatted(pane.editor.editingValue)
                        }

                        objectName: "valueField"
                        width: 90
                        implicitHeight: 28
                        padding: 6
                        horizontalAlignment: TextInput.AlignRight
                        font.pixelSize: Style.body
                        validator: RegularExpressionValidator {
                            // Digits, signs and whatever separators the locale groups with.
                            regularExpression: /[^\p{L}]{0,12}/
                        }
                        Component.onCompleted: show()
                        onTextEdited: {
                            const value = parsed()
                            if (!isNaN(value))
                                pane.editor.editingValue = value
                        }
                        onActiveFocusChanged: if (!activeFocus) text = pane.formatted(pane.editor.editingValue)
                        onAccepted: pane.editor.save()

                        Connections {
                            target: pane.editor

                            function onEditingValueChanged() {
                                valueField.show()
                            }
                        }
                    }
                    ValueStepper {
                        objectName: "valueStepper"
                        anchors.verticalCenter: parent.verticalCenter
                        canStepUp: pane.editor.editingValue < pane.editor.upperBound
                        canStepDown: pane.editor.editingValue > pane.editor.lowerBound
                        onStepped: direction => pane.editor.step(direction)
                    }
                    Text {
                        objectName: "valueUnit"
                        anchors.verticalCenter: parent.verticalCenter
                        text: pane.editor.editingMode === "rpm" ? "RPM" : "%"
                        font.pixelSize: Style.body
                        color: pane.palette.windowText
                    }
                }
                Text {
                    objectName: "rangeHint"
                    text: pane.editor.editingMode === "rpm"
                          ? (pane.loc ? (pane.loc.revision, pane.loc.format("preset_range_rpm", [pane.editor.lowerRPMBound, pane.editor.upperRPMBound])) : "")
                          : pane.text("preset_range_percentage")
                    font.pixelSize: Style.caption
                    color: Theme.secondaryText(pane.palette)
                }
            }
        }

        Row {
            objectName: "errorRow"
            visible: pane.editor.errorMessage.length > 0
            spacing: 6
            Layout.leftMargin: 84

            SymbolGlyph {
                name: "exclamationmark.circle.fill"
                size: 14
                color: Style.destructive
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                objectName: "errorMessage"
                text: pane.editor.errorMessage
                font.pixelSize: Style.body
                color: Style.destructive
                anchors.verticalCenter: parent.verticalCenter
            }
        }

        PushButton {
            objectName: "saveButton"
            text: pane.text("preset_save")
            highlighted: true
            enabled: pane.editor.canSave
            onClicked: pane.editor.save()
            Layout.leftMargin: 84
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
