import QtQuick
import "Style.js" as Style

// The popover's menu: add preset, the options and the language list (each behind a
// disclosure row), feedback, the update row, About and quit. Entries whose windows the
// application does not have are left out.
Column {
    id: footer

    required property QtObject viewModel
    required property QtObject settings
    property QtObject updateManager
    property QtObject loc
    property bool reduceMotion: false
    property bool showsAddPreset: false
    property bool showsFeedback: false
    property bool showsAbout: false
    readonly property alias optionsPanel: optionsPanel
    readonly property alias languagePanel: languagePanel

    signal addPresetRequested()
    signal feedbackRequested()
    signal aboutRequested()
    signal quitRequested()

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    // Entries reach 12 pixels into the content's side margins.
    readonly property real entryWidth: width + 24

    Rectangle {
        width: footer.width
        height: 1
        color: Style.withAlpha(footer.palette.windowText, 0.12)
    }
    Item {
        width: 1
        height: 6
    }

    PlainTextHoverButton {
        objectName: "addPreset"
        visible: footer.showsAddPreset
        x: -12
        width: footer.entryWidth
        text: footer.text("popover_add_preset")
        onClicked: footer.addPresetRequested()
    }

    DisclosureRow {
        objectName: "optionsRow"
        x: -12
        width: footer.entryWidth
        text: footer.text("popover_options")
        expanded: optionsPanel.expanded
        progress: optionsPanel.progress
        onClicked: optionsPanel.toggle()
    }
    DisclosurePanel {
        id: optionsPanel

        objectName: "optionsPanel"
        x: 8
        width: footer.width - 16
        reduceMotion: footer.reduceMotion
        enabled: !footer.viewModel.isApplyingChange

        OptionsPanel {
            width: parent.width
            viewModel: footer.viewModel
            settings: footer.settings
            loc: footer.loc
            reduceMotion: footer.reduceMotion
        }
    }

    DisclosureRow {
        objectName: "languageRow"
        x: -12
        width: footer.entryWidth
        text: footer.text("popover_language")
        detail: footer.loc ? footer.loc.languageName : ""
        expanded: languagePanel.expanded
        progress: languagePanel.progress
        onClicked: languagePanel.toggle()
    }
    DisclosurePanel {
        id: languagePanel

        objectName: "languagePanel"
        // Its rows' 4-pixel padding puts their text level with the options'.
        x: 4
        width: footer.width - 8
        reduceMotion: footer.reduceMotion

        LanguagePanel {
            width: parent.width
            loc: footer.loc
        }
    }

    PlainTextHoverButton {
        objectName: "feedback"
        visible: footer.showsFeedback
        x: -12
        width: footer.entryWidth
        text: footer.text("popover_send_feedback")
        onClicked: footer.feedbackRequested()
    }
    PlainTextHoverButton {
        objectName: "updateRow"
        visible: footer.updateManager !== null
        x: -12
        width: footer.entryWidth
        text: footer.updateManager ? footer.updateManager.updateRowLabel : ""
        onClicked: footer.updateManager.rowActivated()
    }
    PlainTextHoverButton {
        objectName: "about"
        visible: footer.showsAbout
        x: -12
        width: footer.entryWidth
        text: footer.text("popover_about")
        onClicked: footer.aboutRequested()
    }
    PlainTextHoverButton {
        objectName: "quit"
        x: -12
        width: footer.entryWidth
        text: footer.text("popover_close")
        hoverColor: Style.maxRed
        onClicked: footer.quitRequested()
    }
}
