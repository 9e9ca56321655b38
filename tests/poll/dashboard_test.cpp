// The dashboard's pieces: the trend's bound, the live stream's queues, the API's JSON and
// the authentication, against values worked out by hand.
#include <gtest/gtest.h>

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

#include "poll/web/ApiJson.h"
#include "poll/web/EventHub.h"
#include "poll/web/HttpService.h"
#include "poll/web/Trend.h"
#include "support/FreePort.h"

namespace {

QJsonObject Parse(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

MeasurementValues Values(double voltageA) {
    MeasurementValues v;
    v.fill(NAN);
    v[QuantityIndex("voltage_a")] = voltageA;
    return v;
}

}  // namespace

TEST(DashboardTrend, OneSampleASecondForAnHourAtMost) {
    const int va = QuantityIndex("voltage_a"), ia = QuantityIndex("current_a");
    Trend t;
    t.Add(1000, Values(230.0));
    t.Add(1900, Values(231.0));  // the same second: replaces the sample before
    t.Add(2100, Values(232.0));
    const auto s = t.Samples(va, 3600);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], std::make_pair(int64_t(1900), 231.0));
    EXPECT_EQ(s[1], std::make_pair(int64_t(2100), 232.0));
    EXPECT_TRUE(t.Samples(ia, 3600).empty());  // not known: no points
    // Two hours at a reading every 250 ms: 3601 samples, the oldest an hour before the newest.
    Trend hour;
    for (int64_t ms = 0; ms <= 7200000; ms += 250) hour.Add(ms, Values(double(ms)));
    EXPECT_EQ(hour.Size(), Trend::kMaxSamples);
    EXPECT_EQ(hour.Samples(va, 3600).front().first, 3600750);
    EXPECT_EQ(hour.Samples(va, 10).size(), 11u);
}

TEST(DashboardEvents, AClientThatFallsBehindIsDroppedAndNoOneWaits) {
    EventHub hub(2, 3);
    auto a = hub.Join(), b = hub.Join();
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(hub.Join());  // two at most
    hub.Publish("reading", "{\"address\":1}", "reading 1");
    std::string text;
    ASSERT_TRUE(hub.Next(*a, text, 0));
    EXPECT_EQ(text, "event: reading\ndata: {\"address\":1}\n\n");
    // An unsent event gives way to a newer one of its key: b's queue holds the latest
    // reading of meter 1, not every one.
    hub.Publish("reading", "{\"address\":1,\"n\":2}", "reading 1");
    EXPECT_EQ(b->queue.size(), 1u);
    EXPECT_EQ(*b->queue.front().text, "event: reading\ndata: {\"address\":1,\"n\":2}\n\n");
    // b reads nothing: two more meters fill its queue of three, the next drops it; a reads
    // as they come and stays.
    for (int k = 2; k <= 3; ++k) {
        hub.Publish("reading", "{}", "reading " + std::to_string(k));
        ASSERT_TRUE(hub.Next(*a, text, 0));
    }
    EXPECT_FALSE(b->dropped);
    hub.Publish("health", "{}", "health");
    EXPECT_TRUE(b->dropped);
    EXPECT_FALSE(hub.Next(*b, text, 0));
    EXPECT_TRUE(hub.Next(*a, text, 0));
    hub.Leave(b);
    EXPECT_TRUE(hub.Join());
    hub.Close();
    EXPECT_FALSE(hub.Next(*a, text, 1000));  // a closed hub ends every stream at once
}

TEST(DashboardApi, AMeterWaitingAnsweringAndSilent) {
    MeterView m;
    m.address = 3, m.health.address = 3;
    QJsonObject o = MeterJson(m, "east");
    EXPECT_EQ(o["state"].toString(), "waiting");
    EXPECT_TRUE(o["reading"].isNull());
    Reading r;
    r.address = 3;
    r.values.fill(NAN);
    r.values[QuantityIndex("voltage_a")] = 230.25;
    r.values[QuantityIndex("active_power_total")] = 1500000.5;
    r.params = {3, 100, 5, 0, 0, 5, 1};
    r.findings = std::vector<Finding>{{"ct-reversed", Severity::Fault, {"b"}, {}, "Check it.", 0}};
    m.reading = r;
    o = MeterJson(m, "east");
    EXPECT_EQ(o["state"].toString(), "answering");
    EXPECT_EQ(o["reading"].toObject()["wiring_name"].toString(), "3-phase 4-wire (balanced)");
    EXPECT_EQ(o["texts"].toObject()["voltage_a"].toString(), "230.25 V");
    EXPECT_EQ(o["texts"].toObject()["active_power_total"].toString(), "1.5000 MW");
    EXPECT_EQ(o["texts"].toObject()["current_a"].toString(), "-");
    EXPECT_EQ(o["findings"].toArray()[0].toObject()["code"].toString(), "ct-reversed");
    m.health.answering = false, m.health.lastGoodUnixMs = 1765299903250;
    o = MeterJson(m, "east");
    EXPECT_EQ(o["state"].toString(), "silent");
    EXPECT_EQ(o["silent_since"].toString(), "2025-12-09T17:05:03.250Z");
}

// Over a real server: the page and the API behind the password, /metrics outside it.
TEST(DashboardHttp, BasicAuthenticationGuardsThePageAndTheApi) {
    HttpOptions o;
    const int port = FreePortBelowEphemeral();
    o.listen = "127.0.0.1:" + std::to_string(port), o.user = "ops", o.password = "s3cret";
    std::string error;
    auto service = MakeHttpService(o, "east", {1, 2}, nullptr, error);
    ASSERT_TRUE(service) << error;
    httplib::Client c("127.0.0.1", port);
    struct Case {
        const char* path;
        bool withPassword;
        int status;
    } cases[] = {
        {"/", false, 401},
        {"/api/meters", false, 401},
        {"/metrics", false, 200},
        {"/healthz", false, 200},
        {"/", true, 200},
        {"/meter/2", true, 200},
        {"/api/meters", true, 200},
        {"/api/meters/2", true, 200},
        {"/api/meters/7", true, 404},
        {"/api/meters/x", true, 400},
        {"/api/meters/2/trend?quantity=nope", true, 400},
        {"/api/nothing", true, 404},
        {"/chart.min.js", true, 200},
    };
    for (const Case& k : cases) {
        httplib::Headers h;
        if (k.withPassword) h.insert(httplib::make_basic_authentication_header("ops", "s3cret"));
        auto res = c.Get(k.path, h);
        ASSERT_TRUE(res) << k.path;
        EXPECT_EQ(res->status, k.status) << k.path;
        if (std::string(k.path).rfind("/api/", 0) == 0 && k.status != 200 && k.withPassword) {
            EXPECT_TRUE(Parse(res->body).contains("error")) << k.path << " " << res->body;
        }
    }
    httplib::Headers wrong = {httplib::make_basic_authentication_header("ops", "s3cre")};
    EXPECT_EQ(c.Get("/api/meters", wrong)->status, 401);
    EXPECT_EQ(
        Parse(c.Get("/api/meters", {httplib::make_basic_authentication_header("ops", "s3cret")})
                  ->body)["meters"]
            .toArray()
            .size(),
        2);
}
