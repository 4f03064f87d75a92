import QtQuick
import Zephro.Popover
import Zephro.PopoverTest

// The popover as a person sees it: over a stretch of desktop wallpaper, so the translucent
// look shows for what it is.
Rectangle {
    id: scene

    required property PopoverFixture fixture
    property real maxHeight: 1200
    property bool isMacBookAir: false
    readonly property alias popover: popover
    readonly property int margin: 28

    width: popover.width + 2 * margin
    height: popover.height + 2 * margin
    gradient: Gradient {
        orientation: Gradient.Horizontal
        GradientStop { position: 0; color: "#3d6fb6" }
        GradientStop { position: 0.55; color: "#7a5aa6" }
        GradientStop { position: 1; color: "#d88a5b" }
    }

    FanControlPopoverView {
        id: popover

        objectName: "popover"
        x: scene.margin
        y: scene.margin
        width: implicitWidth
        height: implicitHeight
        viewModel: scene.fixture.viewModel
        settings: scene.fixture.settings
        updateManager: scene.fixture.updateManager
        maxHeight: scene.maxHeight
        isMacBookAir: scene.isMacBookAir
        reduceMotion: true
        // Every entry the application's own popover shows.
        showsAddPreset: true
        showsFeedback: true
        showsAbout: true
    }
}
