import QtQuick
import Zephro.Presets
import Zephro.PopoverTest

// The preset manager over a fixture of its own: a real view model and preset store on
// temporary settings. The view goes before the view model when the scene is destroyed.
Item {
    id: scene

    readonly property alias view: view
    readonly property alias fixture: fixture
    readonly property var store: fixture.viewModel.presetStore

    width: 680
    height: 460

    PresetManagerView {
        id: view

        anchors.fill: parent
        viewModel: fixture.viewModel
    }

    PopoverFixture {
        id: fixture
    }
}
