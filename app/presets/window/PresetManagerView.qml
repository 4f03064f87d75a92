import QtQuick
import QtQuick.Layouts
import Zephro.ViewModel
import Zephro.Ui
import Zephro.Presets
import "Style.js" as Style

// The preset manager: the sidebar of presets with its add and remove buttons, and the
// editor of the selected or new preset (or a line inviting one).
Item {
    id: root

    required property FanControlViewModel viewModel
    property QtObject loc: Localization
    readonly property alias editor: editor
    readonly property alias editorPane: editorLoader.item

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
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

                Text {
                    objectName: "sidebarTitle"
                    text: root.text("preset_sidebar_title")
                    font.pixelSize: Style.caption
                    font.bold: true
                    color: Theme.secondaryText(root.palette)
                    Layout.margins: 12
                    Layout.bottomMargin: 6
                }

                ListView {
                    id: rows

                    objectName: "sidebarRows"
                    clip: true
                    spacing: 2
                    model: editor.rows
                    boundsBehavior: Flickable.StopAtBounds
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.leftMargin: 8
                    Layout.rightMargin: 8

                    delegate: PresetSidebarRow {
                        required property var modelData

                        objectName: modelData.isUnsaved ? "row_unsaved" : "row_" + modelData.id
                        width: ListView.view.width
                        presetName: modelData.name.length > 0 ? modelData.name
                                                              : root.text("preset_new")
                        symbol: modelData.symbol
                        valueText: modelData.valueText
                        isSelected: modelData.isSelected
                        deleteText: root.text("preset_delete_context")
                        selectedText: root.text("preset_selected_a11y")
                        onClicked: if (!modelData.isUnsaved) editor.select(modelData.id)
                        onDeleteAction: modelData.isUnsaved ? editor.cancelNew()
                                                            : editor.deletePreset(modelData.id)
                    }

                    PresetSidebarEmptyView {
                        anchors.fill: parent
                        visible: rows.count === 0
                        text: root.text("preset_nothing_to_show")
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
                        objectName: "removeButton"
                        symbolName: "minus"
                        text: root.text("preset_delete")
                        help: root.text("preset_delete_help")
                        enabled: editor.selectedPresetID.length > 0 && !editor.isCreatingNew
                        onClicked: editor.deleteSelected()
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
                visible: !editor.isEditing
                text: root.text("preset_none_yet")
                buttonText: root.text("preset_new")
                onNewPresetRequested: editor.startNew(root.text("preset_new"))
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
        }
    }

    // Return runs the default button, save.
    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: editor.isEditing && !editor.showingSymbolPicker
        onActivated: editor.save()
    }
}
