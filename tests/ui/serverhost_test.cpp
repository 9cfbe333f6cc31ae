// `quorvel --server`: a client drives the guider the main window shows. Its
// camera request starts the window's own acquisition timer, the region it
// has placed on a star is drawn there, and the "Track" button and the
// energy graph's "Suspend" follow its guide, pause and stop.
#include <QPushButton>
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>

#include "core/capture/simsky.h"
#include "core/state.h"
#include "qt/guiderhost.h"
#include "qt/phdclient.h"
#include "testsupport.h"
#include "ui/captureview.h"
#include "ui/ravozuzwin.h"
#include "ui/serverhost.h"
#include "ui/zoomwin.h"

TEST(WindowServer, TheWindowShowsWhatAClientDoes)
{
    TempDir dir;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);  // the settings file lives here
    {
        FakeClock clock;
        SharedState state(clock);
        GuiderHost host(state);
        host.core.acquisition.setScan([&] {  // the star far from the region's first place
            CaptureDriverList list;
            list.push_back(std::make_unique<SimulatedSky>(state, host.core.channel, "star_x=90,star_y=80"));
            return list;
        });
        RavozuzWindow window(state, host.core);
        WindowServer server(window, state, host.core, nullptr);
        std::string error;
        ASSERT_TRUE(server.listen("127.0.0.1", 0, error)) << error;
        const auto tick = [&] {
            clock.advanceMs(200);
            window.AcquisitionTick();
        };
        PhdClient client(server.server().port());
        client.call("loop");
        EXPECT_TRUE(window.loop.active());
        ASSERT_FALSE(client.next("LoopingExposures", tick).isEmpty());

        // find_star: the square leaves its first place for the star's.
        const int oldX = state.regionX, oldY = state.regionY;
        const QJsonArray star = client.call("find_star").toArray();
        ASSERT_EQ(state.regionX, star[0].toInt() - 50);
        ASSERT_NE(state.regionX, oldX);
        const QImage shown = window.captureView->grab().toImage();
        const auto marked = [&](int x, int y) { return (shown.pixel(x, y) | 0xff000000u) != state.picture.at(x, y); };
        EXPECT_TRUE(marked(state.regionX + 50, state.regionY - 1)) << "the square's top edge at the new place";
        EXPECT_FALSE(marked(oldX + 50, oldY - 1)) << "nothing left at the old place";

        QPushButton* track = window.zoomWindow->findChild<QPushButton*>(QString::number(tzoomwin::TrackButtonId));
        QPushButton* suspend = window.zoomWindow->graphWindow->button(specwin::kSuspendId);
        client.call("guide", QJsonArray{QJsonObject{{"pixels", 2}, {"time", 1}, {"timeout", 60}}});
        ASSERT_FALSE(client.next("StartGuiding", tick).isEmpty());
        EXPECT_EQ(track->text(), "Track ON");
        client.call("set_paused", QJsonArray{true});
        EXPECT_EQ(suspend->text(), "Re-start");
        client.call("set_paused", QJsonArray{false});
        EXPECT_EQ(suspend->text(), "Suspend");
        // "Reset" ends a suspension the client asked for: the server hears it
        // from the session, and un-pausing afterwards leaves nothing stuck.
        client.call("set_paused", QJsonArray{true});
        window.zoomWindow->graphWindow->button(specwin::kResetId)->click();
        EXPECT_FALSE(client.call("get_paused").toBool());
        EXPECT_NE(client.call("get_app_state").toString(), "Paused");
        EXPECT_FALSE(client.next("GuidingStopped").isEmpty());
        client.call("set_paused", QJsonArray{false});
        EXPECT_FALSE(client.call("get_paused").toBool());
        EXPECT_TRUE(client.call("get_lock_position").isNull());
        client.call("guide", QJsonArray{QJsonObject{{"pixels", 2}, {"time", 1}, {"timeout", 60}}});
        ASSERT_FALSE(client.next("StartGuiding", tick).isEmpty());
        EXPECT_EQ(client.call("get_app_state").toString(), "Guiding");
        client.call("stop_capture");
        EXPECT_EQ(track->text(), "Track");
        EXPECT_FALSE(window.loop.active());
    }
    ASSERT_EQ(chdir(cwd), 0);
}
