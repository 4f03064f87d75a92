import QtQuick
import QtTest
import Zephro.Popover
import Zephro.PopoverTest
import Zephro.ViewModel

TestCase {
    id: tc
    name: "Smoke"
    width: 320
    height: 800
    when: windowShown

    Component { id: fixtureComponent; PopoverFixture {} }
    Component {
        id: viewComponent
        FanControlPopoverView {}
    }

    function test_load() {
        const fixture = createTemporaryObject(fixtureComponent, tc)
        fixture.serveFans(2)
        fixture.addPreset("Quiet", 40, "")
        fixture.poll()
        const view = createTemporaryObject(viewComponent, tc, {viewModel: fixture.viewModel, settings: fixture.settings, updateManager: fixture.updateManager})
        verify(view)
        tryCompare(view, "connectionKind", 2)
        console.log(JSON.stringify(fixture.viewModel.presetStore.presets), fixture.viewModel.presetStore.presets.length)
        console.log(view.implicitHeight, view.measuredContentHeight, ConnectionState.connecting, typeof ConnectionState, String(ConnectionState), ConnectionState.connected, FanControlViewModel.Manual)
        wait(200)
    }
}
