import QtQuick
import QtTest
import QtMultimedia
import Zephro.Ui
import Zephro.Onboarding

TestCase {
    id: testCase

    name: "Onboarding"
    when: windowShown
    width: 640
    height: 560
    visible: true

    Component { id: viewComponent; OnboardingView {} }
    SignalSpy { id: finished; signalName: "finished" }

    function test_backIsAbsentOnTheFirstPageAndContinueFinishesOnTheLast() {
        const view = createTemporaryObject(viewComponent, testCase)
        finished.target = view
        finished.clear()
        const back = findChild(view, "back")
        compare(back.visible, false)
        for (let page = 1; page < 5; ++page) {
            mouseClick(findChild(view, "continue"))
            compare([view.page, view.isGoingBack, finished.count], [page, false, 0])
            tryCompare(back, "opacity", 1, 20000)
        }
        mouseClick(findChild(view, "continue"))
        compare([view.page, finished.count], [4, 1])
        for (let page = 3; page >= 0; --page) {
            mouseClick(back)
            compare([view.page, view.isGoingBack], [page, true])
        }
        tryCompare(back, "visible", false, 20000)
    }

    // Reduced motion holds the first frame of a clip while the texts still slide.
    function test_eachPageShowsItsTextsAndVideo_data() {
        return [
            { tag: "fans", page: 0, title: "Your Fans, Your Call", video: "demo1" },
            { tag: "presets", page: 1, title: "Presets for Every Task", video: "demo2" },
            { tag: "done", page: 4, title: "You're All Set", video: "zephro768pProRes4444" },
            { tag: "presets, still", page: 1, title: "Presets for Every Task", video: "demo2",
              still: true }
        ]
    }

    function test_eachPageShowsItsTextsAndVideo(data) {
        const view = createTemporaryObject(viewComponent, testCase, { reduceMotion: data.still === true })
        for (let page = 0; page < data.page; ++page)
            view.goForward()
        const texts = findChild(view, "texts")
        if (data.still)
            verify(texts.busy, "the texts slide")
        tryCompare(texts, "busy", false, 20000)
        compare(texts.currentItem.title, data.title)
        const video = findChild(view, "video")
        verify(video.player, "the clip is among the resources")
        compare([video.resourceName, video.player.loops], [data.video, MediaPlayer.Infinite])
        // A player that does not play draws no further frames, however slow the machine.
        tryVerify(() => video.surface.framesShown > (data.still ? 0 : 2), 20000, "the clip is shown")
        compare(video.player.playbackState === MediaPlayer.PlayingState, !data.still)
        if (data.still)
            compare(video.player.position, 0)
    }
}
