import QtQuick
import Zephro.Popover
import Zephro.PopoverTest

// A popover over a fixture of its own, for the Qt Quick tests. The view is declared
// first so it goes before the view model it shows when the scene is destroyed.
Item {
    id: scene

    readonly property alias view: view
    readonly property alias fixture: fixture
    property alias maxHeight: view.maxHeight

    width: view.width
    height: view.height

    FanControlPopoverView {
        id: view

        width: implicitWidth
        height: implicitHeight
        viewModel: fixture.viewModel
        settings: fixture.settings
        updateManager: fixture.updateManager
        maxHeight: 1100
        reduceMotion: true
    }

    PopoverFixture {
        id: fixture
    }
}
