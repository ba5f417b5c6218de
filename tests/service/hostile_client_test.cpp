// Hostile clients against the real morvane-recomd binary: after each attack, and after all of them in turn, every
// connection the attack made is gone, a plain request is answered, and the resident memory is back near where it
// was. Short deadlines keep the attacks short; nothing here waits for time to pass.
#include "tests/service/raw_http_client.h"
#include "tests/service/recomd_process.h"
#include "tests/support/case_name.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <vector>

namespace morvane {
namespace {

using test::RawConnection;
using test::RecomdProcess;

constexpr std::size_t kMaxConnections = 16;
constexpr std::chrono::seconds kSafetyNet{30};
// Growth of the resident memory still taken as "back near where it was": freed memory that the allocator keeps
// for its threads, not connections or buffers left behind.
constexpr std::size_t kMemoryMargin = std::size_t{32} << 20U;

std::string Get(const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n";
}

// A request whose reply lists 10,000 words, about 200 KB.
const std::string& LargeRequest() {
    static const std::string request = Get(test::RecommendationTarget("word"));
    return request;
}

// What an attack has to work with.
struct Target {
    const RecomdProcess& service;
    std::size_t idleDescriptors; // the process's descriptors with no connection open
};

// Sends piece after piece until the server closes the connection; false when it never does.
bool SendUntilClosed(RawConnection& connection, const std::string& piece) {
    const auto deadline = std::chrono::steady_clock::now() + kSafetyNet;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!connection.Send(piece) || connection.ClosedWithin(std::chrono::milliseconds(20))) {
            return true;
        }
    }
    return false;
}

void SlowHeaders(const Target& target) {
    RawConnection connection(target.service.Port());
    ASSERT_TRUE(connection.Send("GET / HTTP/1.1\r\nHost: x\r\nX-Slow: "));
    EXPECT_TRUE(SendUntilClosed(connection, "a"));
}

void EmptyLineTrickle(const Target& target) {
    RawConnection connection(target.service.Port());
    EXPECT_TRUE(SendUntilClosed(connection, "\r\n"));
}

void EmptyLinesAfterAReply(const Target& target) {
    RawConnection connection(target.service.Port());
    ASSERT_TRUE(connection.Send(Get(test::RecommendationTarget("手机"))));
    ASSERT_EQ(connection.ReadReply().status, 200);
    EXPECT_TRUE(SendUntilClosed(connection, "\r\n"));
}

void HeaderWithoutEnd(const Target& target) {
    RawConnection connection(target.service.Port());
    // The server answers 431 and closes long before all of it is sent; the send may then fail.
    connection.Send("GET / HTTP/1.1\r\nX-Long: " + std::string(std::size_t{1} << 20U, 'a'));
    EXPECT_TRUE(connection.WaitForClose());
}

void ConnectionFloodToTheCap(const Target& target) {
    std::vector<std::unique_ptr<RawConnection>> flood;
    for (std::size_t i = 0; i < kMaxConnections + 24; ++i) {
        flood.push_back(std::make_unique<RawConnection>(target.service.Port()));
        ASSERT_TRUE(flood.back()->Connected());
    }
    ASSERT_TRUE(target.service.WaitForDescriptorsAtLeast(target.idleDescriptors + kMaxConnections));
    auto reply = std::async(std::launch::async, [&] {
        return test::Exchange(target.service.Port(), Get(test::RecommendationTarget("手机"))).status;
    });
    // While the client behind the flood waits its turn, the connections never take more descriptors than the cap.
    std::size_t most = 0;
    do {
        most = std::max(most, target.service.OpenDescriptors());
    } while (reply.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready);
    EXPECT_EQ(reply.get(), 200);
    EXPECT_LE(most, target.idleDescriptors + kMaxConnections);
}

void Pipelining(const Target& target) {
    RawConnection connection(target.service.Port());
    std::string requests;
    for (int i = 0; i < 1000; ++i) {
        requests += Get(test::RecommendationTarget(i % 2 == 0 ? "手机" : "机"));
    }
    ASSERT_TRUE(connection.Send(requests));
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(connection.ReadReply().status, 200) << "reply " << i;
    }
}

void NeverReads(const Target& target) {
    RawConnection connection(target.service.Port());
    std::string requests;
    for (int i = 0; i < 400; ++i) {
        requests += LargeRequest(); // 80 MB of replies asked for
    }
    ASSERT_TRUE(connection.Send(requests));
    // One reply read shows the connection is being served; none is read after it.
    ASSERT_EQ(connection.ReadReply().status, 200);
    // The server gives up on it once its replies stop moving, while this end is still open.
    EXPECT_TRUE(target.service.WaitForDescriptorsAtMost(target.idleDescriptors));
}

void ResetsMidRequest(const Target& target) {
    for (int i = 0; i < 50; ++i) {
        RawConnection connection(target.service.Port());
        ASSERT_TRUE(connection.Send("GET /recomword/recomWordCache_findRecomWord.htm?area_id=0&word=%E6"));
        connection.Reset();
    }
}

void ResetsMidReply(const Target& target) {
    for (int i = 0; i < 20; ++i) {
        RawConnection connection(target.service.Port());
        std::string requests;
        for (int r = 0; r < 20; ++r) {
            requests += LargeRequest();
        }
        ASSERT_TRUE(connection.Send(requests));
        EXPECT_GT(connection.ReadSome(1000), 0U);
        connection.Reset();
    }
}

struct Attack {
    const char* name;
    void (*run)(const Target& target);

    friend void PrintTo(const Attack& attack, std::ostream* out) { *out << attack.name; }
};

const std::vector<Attack>& Attacks() {
    static const std::vector<Attack> attacks{
        {"slowHeaders", SlowHeaders},
        {"emptyLineTrickle", EmptyLineTrickle},
        {"emptyLinesAfterAReply", EmptyLinesAfterAReply},
        {"headerWithoutEnd", HeaderWithoutEnd},
        {"connectionFloodToTheCap", ConnectionFloodToTheCap},
        {"pipelining", Pipelining},
        {"neverReads", NeverReads},
        {"resetsMidRequest", ResetsMidRequest},
        {"resetsMidReply", ResetsMidReply},
    };
    return attacks;
}

// A morvane-recomd with short deadlines, a low connection cap and replies of up to 10,000 words.
class HostileClientTest : public testing::Test {
protected:
    void SetUp() override {
        std::string corpus = "手机 100\n手机壳 90\n";
        for (int i = 0; i < 20000; ++i) {
            corpus += "word" + std::to_string(i) + " 1\n";
        }
        test::WriteFileBytes(m_dir / "corpus.txt", corpus);
        m_service = std::make_unique<RecomdProcess>(test::RecomdSettings{
            .args = {"--corpus", (m_dir / "corpus.txt").string(), "--limit", "10000", "--max-connections",
                     std::to_string(kMaxConnections), "--header-timeout", "300", "--idle-timeout", "600"}});
        ASSERT_TRUE(m_service->Serving()) << m_service->StartupText();
        m_idleDescriptors = m_service->OpenDescriptors();
        ExpectServed();
        ASSERT_TRUE(m_service->WaitForDescriptorsAtMost(m_idleDescriptors));
        m_residentAtStart = m_service->ResidentBytes();
        ASSERT_GT(m_residentAtStart, 0U);
    }

    Target AttackTarget() const { return Target{*m_service, m_idleDescriptors}; }

    // Every connection gone, a plain request answered, the memory back near where it was.
    void ExpectRecovered() const {
        EXPECT_TRUE(m_service->WaitForDescriptorsAtMost(m_idleDescriptors));
        ExpectServed();
        EXPECT_LE(m_service->ResidentBytes(), m_residentAtStart + kMemoryMargin)
            << "at start: " << m_residentAtStart << " bytes";
    }

    void ExpectServed() const {
        const test::RawReply reply = test::Exchange(m_service->Port(), Get(test::RecommendationTarget("手机")));
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, R"({"success":"1","data":{"list":[{"word":"手机壳"}]}})");
    }

private:
    test::TempDir m_dir;
    std::unique_ptr<RecomdProcess> m_service;
    std::size_t m_idleDescriptors = 0;
    std::size_t m_residentAtStart = 0;
};

class HostileClientAttackTest : public HostileClientTest, public testing::WithParamInterface<Attack> {};

TEST_P(HostileClientAttackTest, leavesNothingBehind) {
    GetParam().run(AttackTarget());
    ExpectRecovered();
}

INSTANTIATE_TEST_SUITE_P(Attacks, HostileClientAttackTest, testing::ValuesIn(Attacks()), test::CaseName());

TEST_F(HostileClientTest, everyAttackInTurnLeavesNothingBehind) {
    for (const Attack& attack : Attacks()) {
        SCOPED_TRACE(attack.name);
        attack.run(AttackTarget());
        ASSERT_TRUE(AttackTarget().service.WaitForDescriptorsAtMost(AttackTarget().idleDescriptors));
    }
    ExpectRecovered();
}

} // namespace
} // namespace morvane
