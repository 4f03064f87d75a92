import QtQuick
import QtQuick.Layouts
import Zephro.Ui

// The About panel, 300 × 200: the application's icon, its name, the version line and the
// two lines of credits, in a centred column.
Item {
    id: view

    property QtObject loc: Localization
    // The information file's short version; "0" when it has none.
    property string version: "0"

    signal closeRequested()

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    width: 300
    height: 200
    implicitWidth: 300
    implicitHeight: 200

    readonly property var sourcePalette: Window.window ? Window.window.palette : systemPalette
    palette.window: sourcePalette.window
    palette.windowText: sourcePalette.windowText

    SystemPalette {
        id: systemPalette
    }

    readonly property color secondary: Theme.secondaryText(palette)

    FloatingPanelBackground {
        anchors.fill: parent
        onCloseRequested: view.closeRequested()
    }

    ColumnLayout {
        anchors.centerIn: parent
        width: parent.width - 32
        spacing: 0

        Image {
            objectName: "icon"
            source: "qrc:/zephro/about/AboutIcon.svg"
            sourceSize: Qt.size(128, 128)
            // Drawn once per panel; the process-wide picture cache would only keep it.
            cache: false
            smooth: true
            Layout.preferredWidth: 64
            Layout.preferredHeight: 64
            Layout.bottomMargin: 8
            Layout.alignment: Qt.AlignHCenter
        }
        Text {
            objectName: "name"
            text: "Zephro"
            font.pixelSize: 24
            font.bold: true
            color: view.palette.windowText
            Layout.alignment: Qt.AlignHCenter
        }
        Text {
            objectName: "version"
            text: view.loc ? (view.loc.revision, view.loc.format("about_version", [view.version]))
                           : view.version
            font.pixelSize: 12
            color: view.secondary
            Layout.alignment: Qt.AlignHCenter
        }
        Text {
            objectName: "copyright"
            text: view.text("about_copyright")
            font.pixelSize: 10
            color: view.secondary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            Layout.topMargin: 4
            Layout.fillWidth: true
        }
        Text {
            objectName: "author"
            text: view.text("about_author")
            font.pixelSize: 10
            color: view.secondary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
    }
}
