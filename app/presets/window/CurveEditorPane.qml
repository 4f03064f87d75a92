import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Zephro.Ui
import Zephro.Presets
import "Style.js" as Style

// The editor of one fan curve: its heading, name and icon beside their labels, the chart of
// its points with the buttons that add and remove one, the message of the first rule the
// fields break, and the save button.
Item {
    id: pane

    required property CurveEditor editor
    property QtObject loc
    property string curveSymbol: "thermometer.sun"
    readonly property alias nameField: nameField
    readonly property alias chart: chart
    readonly property alias symbolPicker: iconButton.picker

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    // The stored name of the selected curve, for the heading.
    readonly property string selectedName: {
        const rows = editor.rows
        for (let i = 0; i < rows.length; ++i) {
            if (!rows[i].isUnsaved && rows[i].id === editor.selectedCurveID)
                return rows[i].name
        }
        return ""
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        spacing: 12

        Column {
            spacing: 2
            Layout.fillWidth: true

            Text {
                objectName: "curveHeading"
                width: parent.width
                text: pane.editor.isCreatingNew || pane.selectedName.length === 0
                      ? pane.text("curve_new") : pane.selectedName
                font.pixelSize: Style.title
                font.bold: true
                color: pane.palette.windowText
                elide: Text.ElideRight
            }
            Text {
                width: parent.width
                text: pane.text("curve_subtitle")
                font.pixelSize: Style.body
                color: Theme.secondaryText(pane.palette)
                wrapMode: Text.WordWrap
                maximumLineCount: 2
                elide: Text.ElideRight
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

                objectName: "curveNameField"
                width: Math.min(300, parent.width)
                implicitHeight: 28
                padding: 6
                placeholderText: pane.text("curve_name_placeholder")
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
                emptySymbol: pane.curveSymbol
                Accessible.name: pane.text("preset_icon_label")
            }
        }

        CurveChart {
            id: chart

            objectName: "curveChart"
            editor: pane.editor
            loc: pane.loc
            plotLeft: 84
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: 120
        }

        Column {
            spacing: 6
            Layout.leftMargin: 84
            Layout.fillWidth: true

            Row {
                spacing: 8

                PushButton {
                    objectName: "addPointButton"
                    text: pane.text("curve_add_point")
                    enabled: pane.editor.canAddPoint
                    onClicked: pane.editor.addPoint()
                }
                PushButton {
                    objectName: "removePointButton"
                    text: pane.text("curve_remove_point")
                    enabled: pane.editor.canRemovePoint
                    onClicked: pane.editor.removeSelectedPoint()
                }
            }
            Text {
                objectName: "chartHint"
                width: parent.width
                text: pane.text("curve_chart_hint")
                font.pixelSize: Style.caption
                color: Theme.secondaryText(pane.palette)
                wrapMode: Text.WordWrap
            }
        }

        Row {
            objectName: "curveErrorRow"
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
                objectName: "curveErrorMessage"
                text: pane.editor.errorMessage
                font.pixelSize: Style.body
                color: Style.destructive
                anchors.verticalCenter: parent.verticalCenter
            }
        }

        PushButton {
            objectName: "curveSaveButton"
            text: pane.text("preset_save")
            highlighted: true
            enabled: pane.editor.canSave
            onClicked: pane.editor.save()
            Layout.leftMargin: 84
        }
    }
}
