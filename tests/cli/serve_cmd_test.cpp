// `quorvel serve` end to end on the simulated sky and the real clock: a
// night's script (loop, guide and settle, ten settled dithers, pause,
// resume, stop) from a PHD2 client, then SIGTERM ends it as closing the
// window does. And the refusals: options, a port already in use, a format
// the camera lacks.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qt/phdclient.h"
#include "testsupport.h"

TEST(ServeCommand, ANightsScriptFromLoopToStop)
{
    TempDir dir;
    QProcess serve;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "none");  // no display library needed at all
    serve.setProcessEnvironment(env);
    serve.setWorkingDirectory(QString::fromStdString(dir.path()));
    serve.start(QUORVEL_BIN, {"serve", "--port", "0", "--log", "night.log"});
    ASSERT_TRUE(serve.waitForReadyRead(20000)) << serve.readAllStandardError().toStdString();
    const QByteArray first = serve.readLine();  // "quorvel serve: listening on 127.0.0.1:PORT"
    ASSERT_TRUE(first.startsWith("quorvel serve: listening on 127.0.0.1:")) << first.toStdString();
    PhdClient client(quint16(first.mid(first.lastIndexOf(':') + 1).trimmed().toUInt()));
    client.waitMs = 60000;
    EXPECT_EQ(client.next("AppState").value("State").toString(), "Stopped");
    if (client.call("get_current_equipment").toObject().value("camera").toObject().value("name") !=
        QString::fromUtf8("Ciel simulé"))
        GTEST_SKIP() << "entry 0 is a camera on this machine, not the simulated sky";

    EXPECT_EQ(client.call("set_connected", QJsonArray{true}).toInt(-1), 0);
    EXPECT_EQ(client.call("loop").toInt(-1), 0);
    client.next("LoopingExposures");
    EXPECT_EQ(client.call("find_star").toArray().size(), 2);
    client.call("guide", QJsonObject{{"settle", QJsonObject{{"pixels", 2}, {"time", 1}, {"timeout", 40}}}});
    EXPECT_EQ(client.next("SettleDone").value("Status").toInt(-1), 0);
    EXPECT_EQ(client.call("get_app_state").toString(), "Guiding");
    const QJsonObject settle{{"pixels", 2.5}, {"time", 0}, {"timeout", 40}};
    for (int i = 0; i < 10; ++i) {
        client.call("dither", QJsonObject{{"amount", 2}, {"raOnly", false}, {"settle", settle}});
        const QJsonObject d = client.next("GuidingDithered");
        EXPECT_LE(std::abs(d.value("dx").toInt()) + std::abs(d.value("dy").toInt()), 4);
        EXPECT_EQ(client.next("SettleDone").value("Status").toInt(-1), 0) << "dither " << i;
    }
    client.call("set_paused", QJsonArray{true});
    client.next("Paused");
    EXPECT_EQ(client.call("get_app_state").toString(), "Paused");
    client.call("set_paused", QJsonArray{false});
    client.next("Resumed");
    client.next("GuideStep");
    client.call("stop_capture");
    client.next("LoopingExposuresStopped");
    EXPECT_EQ(client.call("get_app_state").toString(), "Stopped");
    EXPECT_GE(client.events("GuideStep").size(), 12u);
    EXPECT_TRUE(client.crLf);

    serve.terminate();  // SIGTERM
    ASSERT_TRUE(serve.waitForFinished(10000));
    EXPECT_EQ(serve.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(serve.exitCode(), 0);
    EXPECT_EQ(readFile(dir.file("qv185.dat")).size(), 110u);
    const std::string log = readFile(dir.file("night.log"));
    size_t dithers = 0;
    for (size_t at = log.find("INFO: DITHER by "); at != std::string::npos; at = log.find("INFO: DITHER by ", at + 1))
        ++dithers;
    EXPECT_EQ(dithers, 10u);
}

TEST(ServeCommand, APortInUseIsAClearErrorAndExitOne)
{
    TempDir dir;
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    const std::string port = std::to_string(taken.serverPort());
    const RunResult r = runQuorvel({"serve", "--port", port}, dir.path(), {"QT_QPA_PLATFORM=none"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("quorvel serve: cannot listen on 127.0.0.1:" + port + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;
}

// The format is the camera's: one it does not have is said at the start,
// not when a client first connects the camera.
TEST(ServeCommand, AFormatTheCameraLacksEndsItAtTheStart)
{
    TempDir dir;
    const RunResult r = runQuorvel({"serve", "--port", "0", "--format", "1000"}, dir.path(), {"QT_QPA_PLATFORM=none"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("quorvel serve: format 1000 of entry 0 (", 0), 0u) << r.err;
    EXPECT_EQ(r.out.find("listening"), std::string::npos);
}

TEST(ServeCommand, BadOptionsAreNamed)
{
    TempDir dir;
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"serve", "--port", "65536"}, "--port takes a port number from 0 to 65535, not '65536'"},
        {{"serve", "--port"}, "--port needs a value"},
        {{"serve", "--listen", "observatory"}, "--listen takes the IP address of one of this machine's interfaces"},
        {{"serve", "--source", "9"}, "--source takes an entry from 0 to 8, not '9'"},
        {{"serve", "--format", "whole"}, "--format takes the number of a format (0 the first), not 'whole'"},
        {{"--port", "4401"}, "--port and --listen go with --server"},
        {{"--server", "--port", "http"}, "--port takes a port number from 0 to 65535, not 'http'"},
    };
    for (const auto& c : cases) {
        const RunResult r = runQuorvel(c.args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}
