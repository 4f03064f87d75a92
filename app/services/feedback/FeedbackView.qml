import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Zephro.Ui
import Zephro.Feedback

// The feedback form: a category, a message of up to 1000 characters, an optional address,
// and the send button, with a line that tells how the send went. A success closes the
// window after closeDelay.
Item {
    id: view

    property QtObject loc: Localization
    property int closeDelay: 1200
    property string category: "bug"
    property string message: ""
    property string contactEmail: ""
    property bool isSending: false
    // "", "success" or "failure".
    property string sendResult: ""
    readonly property int maxLength: 1000
    readonly property int characterCount: FeedbackText.characterCount(message)
    readonly property bool sent: sendResult === "success"
    readonly property bool canSend: !isSending && message.trim().length > 0
    readonly property alias sender: sender

    signal closeRequested()

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    function send() {
        if (!canSend)
            return
        isSending = true
        sendResult = ""
        sender.send(category, message.trim(), contactEmail.trim())
    }

    implicitWidth: 320
    implicitHeight: content.implicitHeight + 30 + 18

    readonly property var sourcePalette: Window.window ? Window.window.palette : systemPalette
    palette.window: sourcePalette.window
    palette.windowText: sourcePalette.windowText
    palette.base: sourcePalette.base
    palette.text: sourcePalette.text
    palette.button: sourcePalette.button
    palette.buttonText: sourcePalette.buttonText
    palette.highlight: sourcePalette.highlight
    palette.highlightedText: sourcePalette.highlightedText
    palette.mid: sourcePalette.mid

    SystemPalette {
        id: systemPalette
    }

    FeedbackSender {
        id: sender

        onFinished: success => {
            view.isSending = false
            view.sendResult = success ? "success" : "failure"
            if (success)
                closeTimer.start()
        }
    }
    Timer {
        id: closeTimer

        interval: view.closeDelay
        onTriggered: view.closeRequested()
    }

    FloatingPanelBackground {
        anchors.fill: parent
        translucent: false
        onCloseRequested: view.closeRequested()
    }

    ColumnLayout {
        id: content

        x: 18
        y: 30
        width: view.width - 36
        spacing: 12

        Text {
            objectName: "heading"
            text: view.text("feedback_title")
            font.pixelSize: 15
            font.weight: Font.DemiBold
            color: view.palette.windowText
        }

        SegmentedControl {
            objectName: "categoryPicker"
            value: view.category
            segments: [
                { value: "bug", text: "Bug" },
                { value: "idea", text: "Idea" },
                { value: "other", text: "Other" }
            ]
            onChosen: picked => view.category = picked
            Layout.fillWidth: true
        }

        Column {
            spacing: 3
            Layout.fillWidth: true

            Rectangle {
                width: parent.width
                height: 96
                radius: 8
                color: Qt.rgba(view.palette.windowText.r, view.palette.windowText.g,
                               view.palette.windowText.b, 0.06)
                border.width: 1
                border.color: Qt.rgba(view.palette.windowText.r, view.palette.windowText.g,
                                      view.palette.windowText.b, 0.12)

                PlaceholderTextEditor {
                    id: messageEditor

                    objectName: "messageEditor"
                    anchors.fill: parent
                    placeholder: view.text("feedback_placeholder_" + view.category)
                    maxLength: view.maxLength
                    fontSize: 12
                    text: view.message
                    onTextChanged: view.message = text
                }
            }
            Text {
                objectName: "counter"
                anchors.right: parent.right
                text: view.characterCount + "/" + view.maxLength
                font.pixelSize: 9
                color: view.characterCount >= view.maxLength
                       ? Theme.warningText(view.palette)
                       : Theme.secondaryText(view.palette)
            }
        }

        TextField {
            objectName: "emailField"
            placeholderText: view.text("feedback_email_placeholder")
            text: view.contactEmail
            onTextEdited: view.contactEmail = text
            font.pixelSize: 12
            leftPadding: 8
            rightPadding: 8
            topPadding: 7
            bottomPadding: 7
            color: view.palette.windowText
            placeholderTextColor: Theme.secondaryText(view.palette)
            background: Rectangle {
                radius: 8
                color: Qt.rgba(view.palette.windowText.r, view.palette.windowText.g,
                               view.palette.windowText.b, 0.06)
                border.width: 1
                border.color: Qt.rgba(view.palette.windowText.r, view.palette.windowText.g,
                                      view.palette.windowText.b, 0.12)
            }
            Layout.fillWidth: true
        }

        Text {
            objectName: "disclaimer"
            text: view.text("feedback_disclaimer")
            font.pixelSize: 10
            wrapMode: Text.WordWrap
            color: Theme.secondaryText(view.palette)
            Layout.fillWidth: true
        }

        // Wraps rather than widening the column past the window's margins.
        RowLayout {
            objectName: "statusLine"
            visible: view.sendResult.length > 0
            spacing: 5
            Layout.fillWidth: true

            SymbolGlyph {
                name: view.sent ? "checkmark.circle.fill" : "exclamationmark.triangle.fill"
                size: 13
                color: view.sent ? "#2e9d3f" : Theme.warningText(view.palette)
            }
            Text {
                objectName: "statusText"
                text: view.sent ? view.text("feedback_sent_success")
                                : view.text("feedback_sent_failure")
                font.pixelSize: 11
                font.weight: Font.Medium
                color: view.palette.windowText
                wrapMode: Text.WordWrap
                Layout.fillWidth: true
            }
        }

        T.Button {
            id: sendButton

            objectName: "sendButton"
            enabled: view.canSend
            implicitWidth: Math.max(72, implicitContentWidth + 28)
            implicitHeight: 26
            Accessible.name: view.text("feedback_send")
            onClicked: view.send()

            contentItem: Item {
                implicitWidth: label.implicitWidth
                implicitHeight: label.implicitHeight

                Text {
                    id: label

                    anchors.centerIn: parent
                    visible: !view.isSending
                    text: view.text("feedback_send")
                    font.pixelSize: 13
                    color: view.palette.highlightedText
                }
                BusyIndicator {
                    objectName: "sendingIndicator"
                    anchors.centerIn: parent
                    visible: view.isSending
                    running: view.isSending
                    width: 16
                    height: 16
                    padding: 0
                }
            }
            background: Rectangle {
                radius: 6
                color: view.palette.highlight
                opacity: sendButton.enabled || view.isSending ? (sendButton.down ? 0.8 : 1) : 0.45
            }
        }
    }
}
