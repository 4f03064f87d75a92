import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Zephro.ViewModel
import Zephro.Ui
import Zephro.Presets
import "Style.js" as Style

// The preset manager: the sidebar of presets and curves with their add and remove buttons,
// and the editor of the selected or new preset or curve (or a line inviting one).
Item {
    id: root

    required property FanControlViewModel viewModel
    property QtObject loc: Localization
    readonly property alias editor: editor
    readonly property alias curveEditor: curveEditor
    readonly property alias editorPane: editorLoader.item
    readonly property alias curvePane: curveLoader.item
    // A curve's icon when it has none of its own, as the popover shows it.
    readonly property string curveSymbol: "thermometer.sun"

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    // Scrolls the sidebar just far enough to show the row.
    function reveal(row) {
        const top = row.mapToItem(sections, 0, 0).y
        const bottom = top + row.height + sections.bottomPadding
        if (top < sidebarScroll.contentY)
            sidebarScroll.contentY = top
        else if (bottom > sidebarScroll.contentY + sidebarScroll.height)
            sidebarScroll.contentY = bottom - sidebarScroll.height
    }

    implicitWidth: 680
    implicitHeight: 460

    readonly property var sourcePalette: Window.window ? Window.window.palette : systemPalette
    palette.window: sourcePalette.window
    palette.windowText: sourcePalette.windowText
    palette.base: sourcePalette.base
    palette.text: sourcePalette.text
    palette.button: sourcePalette.button
    palette.buttonText: sourcePalette.buttonText
    palette.highlight: sourcePalette.highlight
    palette.highlightedText: sourcePalette.highlightedText
    // Qt 6.4 refuses this role (added in 6.2) as a grouped property in a declaration.
    Component.onCompleted: palette.placeholderText = Qt.binding(() => sourcePalette.placeholderText)
    palette.light: sourcePalette.light
    palette.mid: sourcePalette.mid
    palette.dark: sourcePalette.dark
    palette.shadow: sourcePalette.shadow

    SystemPalette {
        id: systemPalette
    }

    PresetEditor {
        id: editor

        viewModel: root.viewModel
    }
    CurveEditor {
        id: curveEditor

        viewModel: root.viewModel
        presetEditor: editor
    }

    Rectangle {
        anchors.fill: parent
        color: root.palette.window
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            objectName: "sidebar"
            color: Style.withAlpha(root.palette.windowText, 0.04)
            Layout.preferredWidth: 210
            Layout.fillHeight: true

            ColumnLayout {
                anchors.fill: parent
                spacing: 0

                Flickable {
                    id: sidebarScroll

                    objectName: "sidebarScroll"
                    clip: true
                    contentWidth: width
                    contentHeight: sections.implicitHeight
                    boundsBehavior: Flickable.StopAtBounds
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    ScrollBar.vertical: ScrollBar {
                        policy: sidebarScroll.contentHeight > sidebarScroll.height
                                ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
                    }

                    Column {
                        id: sections

                        x: 8
                        width: sidebarScroll.width - 16
                        bottomPadding: 8
                        spacing: 2

                        Text {
                            objectName: "sidebarTitle"
                            text: root.text("preset_sidebar_title")
                            font.pixelSize: Style.caption
                            font.bold: true
                            color: Theme.secondaryText(root.palette)
                            leftPadding: 4
                            topPadding: 12
                            bottomPadding: 4
                        }
                        Repeater {
                            objectName: "sidebarRows"
                            model: editor.rows

                            PresetSidebarRow {
                                required property var modelData

                                objectName: modelData.isUnsaved ? "row_unsaved" : "row_" + modelData.id
                                width: sections.width
                                presetName: modelData.name.length > 0 ? modelData.name
                                                                      : root.text("preset_new")
                                symbol: modelData.symbol
                                valueText: modelData.valueText
                                isSelected: modelData.isSelected
                                deleteText: root.text("preset_delete_context")
                                selectedText: root.text("preset_selected_a11y")
                                // The selected row stays in sight wherever the column places it.
                                onYChanged: if (isSelected) root.reveal(this)
                                onClicked: if (!modelData.isUnsaved) editor.select(modelData.id)
                                onDeleteAction: modelData.isUnsaved ? editor.cancelNew()
                                                                    : editor.deletePreset(modelData.id)
                            }
                        }
                        PresetSidebarEmptyView {
                            width: sections.width
                            visible: editor.rows.length === 0
                            text: root.text("preset_nothing_to_show")
                        }

                        RowLayout {
                            width: sections.width

                            Text {
                                objectName: "curvesTitle"
                                text: root.text("curve_sidebar_title")
                                font.pixelSize: Style.caption
                                font.bold: true
                                color: Theme.secondaryText(root.palette)
                                leftPadding: 4
                                Layout.fillWidth: true
                                Layout.alignment: Qt.AlignBottom
                                Layout.bottomMargin: 4
                            }
                            SidebarToolButton {
                                objectName: "addCurveButton"
                                symbolName: "plus"
                                text: root.text("curve_add")
                                help: root.text("curve_add_help")
                                Layout.topMargin: 10
                                onClicked: curveEditor.startNew(root.text("curve_new"))
                            }
                        }
                        Repeater {
                            objectName: "curveRows"
                            model: curveEditor.rows

                            PresetSidebarRow {
                                required property var modelData

                                objectName: modelData.isUnsaved ? "curve_unsaved" : "curve_" + modelData.id
                                width: sections.width
                                presetName: modelData.name.length > 0 ? modelData.name
                                                                      : root.text("curve_new")
                                symbol: modelData.symbol
                                emptySymbol: root.curveSymbol
                                valueText: modelData.valueText
                                isSelected: modelData.isSelected
                                deleteText: root.text("preset_delete_context")
                                selectedText: root.text("preset_selected_a11y")
                                onYChanged: if (isSelected) root.reveal(this)
                                onClicked: if (!modelData.isUnsaved) curveEditor.select(modelData.id)
                                onDeleteAction: modelData.isUnsaved ? curveEditor.cancelNew()
                                                                    : curveEditor.deleteCurve(modelData.id)
                            }
                        }
                        PresetSidebarEmptyView {
                            width: sections.width
                            visible: curveEditor.rows.length === 0
                            text: root.text("curve_nothing_to_show")
                            textName: "curvesEmptyText"
                        }
                    }
                }

                Rectangle {
                    height: 1
                    color: Style.separator(root.palette)
                    Layout.fillWidth: true
                }
                Row {
                    spacing: 2
                    Layout.margins: 6

                    SidebarToolButton {
                        objectName: "addButton"
                        symbolName: "plus"
                        text: root.text("preset_add")
                        help: root.text("preset_add_help")
                        onClicked: editor.startNew(root.text("preset_new"))
                    }
                    SidebarToolButton {
                        readonly property bool forCurve: curveEditor.isEditing

                        objectName: "removeButton"
                        symbolName: "minus"
                        text: root.text(forCurve ? "curve_delete" : "preset_delete")
                        help: root.text(forCurve ? "curve_delete_help" : "preset_delete_help")
                        enabled: forCurve ? curveEditor.selectedCurveID.length > 0 && !curveEditor.isCreatingNew
                                          : editor.selectedPresetID.length > 0 && !editor.isCreatingNew
                        onClicked: forCurve ? curveEditor.deleteSelected() : editor.deleteSelected()
                    }
                }
            }
        }

        Rectangle {
            width: 1
            color: Style.separator(root.palette)
            Layout.fillHeight: true
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            PresetDetailEmptyView {
                objectName: "detailEmpty"
                anchors.fill: parent
                visible: !editor.isEditing && !curveEditor.isEditing
                text: root.text("preset_none_yet")
                buttonText: root.text("preset_new")
                curveButtonText: root.text("curve_new")
                onNewPresetRequested: editor.startNew(root.text("preset_new"))
                onNewCurveRequested: curveEditor.startNew(root.text("curve_new"))
            }
            Loader {
                id: editorLoader

                anchors.fill: parent
                active: editor.isEditing
                sourceComponent: PresetEditorPane {
                    objectName: "editorPane"
                    editor: root.editor
                    loc: root.loc
                }
            }
            Loader {
                id: curveLoader

                anchors.fill: parent
                active: curveEditor.isEditing
                sourceComponent: CurveEditorPane {
                    objectName: "curvePane"
                    editor: curveEditor
                    loc: root.loc
                    curveSymbol: root.curveSymbol
                }
            }
        }
    }

    // Return runs the default button, save.
    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: editor.isEditing && !editor.showingSymbolPicker
                 || curveEditor.isEditing && !curveEditor.showingSymbolPicker
        onActivated: curveEditor.isEditing ? curveEditor.save() : editor.save()
    }
}
