import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Zephro.Ui
import Zephro.Onboarding
import "Spring.js" as Spring

// The first-run window's content, 640 × 560: the page's looping video, its title and
// subtitle, the page dots, Back and Continue. Continue on the last page finishes.
Item {
    id: view

    property QtObject loc: Localization
    property bool reduceMotion: false
    property int page: 0
    // The direction of the last page change: it decides where the texts slide.
    property bool isGoingBack: false
    readonly property int pageCount: OnboardingPages.count
    readonly property var currentPage: OnboardingPages.pages[page] || {}

    signal finished()

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    function goBack() {
        if (page <= 0)
            return
        isGoingBack = true
        page -= 1
    }

    function goForward() {
        if (page >= pageCount - 1) {
            finished()
            return
        }
        isGoingBack = false
        page += 1
    }

    width: 640
    height: 560
    implicitWidth: 640
    implicitHeight: 560

    readonly property var sourcePalette: Window.window ? Window.window.palette : systemPalette
    palette.window: sourcePalette.window
    palette.windowText: sourcePalette.windowText
    palette.button: sourcePalette.button
    palette.buttonText: sourcePalette.buttonText
    palette.highlight: sourcePalette.highlight
    palette.highlightedText: sourcePalette.highlightedText

    SystemPalette {
        id: systemPalette
    }

    onPageChanged: texts.replace(pageText, { page: page },
                                 isGoingBack ? StackView.PopTransition : StackView.PushTransition)

    FloatingPanelBackground {
        anchors.fill: parent
        onCloseRequested: view.finished()
    }

    LoopingVideoView {
        id: video

        objectName: "video"
        x: (view.width - 462) / 2
        y: 36
        width: 462
        height: 300
        visible: view.currentPage.resourceName !== ""
        resourceName: view.currentPage.resourceName || ""
        fileExtension: view.currentPage.fileExtension || ""
        shouldPlay: !view.reduceMotion
        Accessible.ignored: true
    }
    PlaceholderShowcaseBox {
        objectName: "placeholder"
        anchors.fill: video
        visible: !video.visible
        primary: view.palette.windowText
    }

    StackView {
        id: texts

        objectName: "texts"
        x: 56
        y: video.y + video.height
        width: view.width - 112
        height: 150
        initialItem: pageText

        // Forward the new texts come from the trailing edge and the old leave to the
        // leading one; back, the other way round. Both fade on the way.
        pushEnter: SlideTransition {
            fromX: texts.width
            fading: "in"
        }
        pushExit: SlideTransition {
            toX: -texts.width
            fading: "out"
        }
        popEnter: SlideTransition {
            fromX: -texts.width
            fading: "in"
        }
        popExit: SlideTransition {
            toX: texts.width
            fading: "out"
        }
        replaceEnter: pushEnter
        replaceExit: pushExit
    }
    Component {
        id: pageText

        Item {
            // Set once when the texts come in, so the leaving ones keep their page.
            property int page: 0
            readonly property var content: OnboardingPages.pages[page] || {}
            readonly property alias title: title.text
            readonly property alias subtitle: subtitle.text

            ColumnLayout {
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width
                spacing: 10

                Text {
                    id: title

                    objectName: "title"
                    text: view.text(content.title || "")
                    font.pixelSize: 24
                    font.bold: true
                    color: view.palette.windowText
                    wrapMode: Text.WordWrap
                    horizontalAlignment: Text.AlignHCenter
                    Layout.fillWidth: true
                }
                Text {
                    id: subtitle

                    objectName: "subtitle"
                    text: view.text(content.subtitle || "")
                    font.pixelSize: 13
                    color: Theme.secondaryText(view.palette)
                    wrapMode: Text.WordWrap
                    horizontalAlignment: Text.AlignHCenter
                    lineHeight: 1.15
                    Layout.fillWidth: true
                }
            }
        }
    }

    RowLayout {
        id: controls

        x: 32
        width: view.width - 64
        y: view.height - 24 - height
        spacing: 10

        Row {
            objectName: "dots"
            spacing: 7
            Layout.alignment: Qt.AlignVCenter

            Repeater {
                model: view.pageCount

                Rectangle {
                    required property int index

                    width: 7
                    height: 7
                    radius: 3.5
                    color: view.palette.windowText
                    opacity: index === view.page ? 0.8 : 0.22
                    Behavior on opacity {
                        NumberAnimation {
                            duration: Spring.duration
                            easing.type: Easing.BezierSpline
                            easing.bezierCurve: Spring.curve
                        }
                    }
                }
            }
        }
        Item {
            Layout.fillWidth: true
        }
        PushButton {
            id: back

            objectName: "back"
            text: view.text("onboarding_back")
            labelWidth: 70
            fontWeight: Font.Medium
            opacity: view.page > 0 ? 1 : 0
            visible: opacity > 0
            onClicked: view.goBack()
            Behavior on opacity {
                NumberAnimation {
                    duration: Spring.duration
                    easing.type: Easing.BezierSpline
                    easing.bezierCurve: Spring.curve
                }
            }
        }
        PushButton {
            objectName: "continue"
            text: view.text("onboarding_continue")
            labelWidth: 100
            fontWeight: Font.DemiBold
            highlighted: true
            onClicked: view.goForward()
        }
    }
    focus: true
    Keys.onReturnPressed: view.goForward()
    Keys.onEnterPressed: view.goForward()
}
