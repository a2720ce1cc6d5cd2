// What mutual TLS costs against plain TCP, in one run: the StreamJointTorque call (two arms) and
// the round trip of a request (Robot::plan_list()), against one simulator in this process that
// listens on a TCP and a TLS endpoint at once. The client alternates between the two links over
// several rounds (the library's session is per process: each round connects a new Robot) and
// reports each link's median and their ratio.
//
//   secure_link_bench [ROUNDS]   (default 3)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "korvo/vyr/robot.hpp"
#include "loopback.hpp"
#include "measure.hpp"
#include "sim/simulator.hpp"

namespace {

using korvo::bench::Median;

using korvo::vyr::JointGroup;
using korvo::vyr::Mode;
using korvo::vyr::RtJointTorqueCmd;
using Clock = std::chrono::steady_clock;

constexpr char kSerial[] = "Olvar-LL-000001";
constexpr int kStreamBatch = 2000;  // calls per stream sample
constexpr int kStreamSamples = 20;
constexpr int kRoundTrips = 300;

// A certificate authority, the robot's certificate for 127.0.0.1 and an operator's, made by
// examples/secure/make_certs.sh in a temporary folder removed at the end.
class Certificates {
 public:
  Certificates() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "korvo-bench-certs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    const std::string command = std::string("'") + KORVO_SOURCE_DIR +
                                "/examples/secure/make_certs.sh' '" + dir_ +
                                "' 127.0.0.1 operator >/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("make_certs.sh failed");
  }
  Certificates(const Certificates&) = delete;
  Certificates& operator=(const Certificates&) = delete;
  ~Certificates() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string operator()(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

std::string Tls(const Certificates& certs, const std::string& side) {
  const std::string who = side == "listen" ? "robot" : "operator";
  return "transport: { link: { tls: { root_ca_certificate: \"" + certs("ca.pem") + "\", " + side +
         "_certificate: \"" + certs(who + ".pem") + "\", " + side + "_private_key: \"" +
         certs(who + ".key") + "\", enable_mtls: true } } }";
}

constexpr char kLoopbackOnly[] =
    "scouting: { multicast: { enabled: false }, gossip: { enabled: false } }";

std::string Listener(int tcp_port, int tls_port, const Certificates& certs) {
  return "{ mode: \"peer\", listen: { endpoints: [\"tcp/127.0.0.1:" + std::to_string(tcp_port) +
         "\", \"tls/127.0.0.1:" + std::to_string(tls_port) + "\"] }, " + kLoopbackOnly + ", " +
         Tls(certs, "listen") + " }";
}

std::string Connector(const std::string& endpoint, const std::string& tls) {
  return "{ mode: \"peer\", listen: { endpoints: [] }, connect: { endpoints: [\"" + endpoint +
         "\"] }, " + kLoopbackOnly + (tls.empty() ? "" : ", " + tls) + " }";
}

struct Samples {
  std::vector<double> stream_us;      // mean call time of each batch
  std::vector<double> round_trip_us;  // each request
};

// One round on the link that `config` describes: connect, stream, ask.
void Round(const std::string& config, Samples& samples) {
  const korvo::test::TempFile file(config);
  const korvo::test::ScopedEnv env("ZENOH_CONFIG", file.path());
  korvo::vyr::Robot robot(kSerial, false);
  while (!robot.operational()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  robot.SwitchMode(Mode::RT_JOINT_TORQUE);

  std::map<JointGroup, RtJointTorqueCmd> cmds;
  cmds[JointGroup::ARM_1] = RtJointTorqueCmd(std::vector<double>(7, 0.1));
  cmds[JointGroup::ARM_2] = RtJointTorqueCmd(std::vector<double>(7, -0.1));
  for (int s = 0; s < kStreamSamples; ++s) {
    const auto start = Clock::now();
    for (int i = 0; i < kStreamBatch; ++i) robot.StreamJointTorque(cmds);
    const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
    samples.stream_us.push_back(spent.count() / kStreamBatch);
    // The simulator drains what the batch queued before the next one.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  robot.Stop();
  for (int i = 0; i < kRoundTrips; ++i) {
    const auto start = Clock::now();
    (void)robot.plan_list();
    const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
    samples.round_trip_us.push_back(spent.count());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const Certificates certs;
  const int tcp_port = korvo::test::FreeTcpPort();
  int tls_port = korvo::test::FreeTcpPort();
  while (tls_port == tcp_port) tls_port = korvo::test::FreeTcpPort();

  korvo::sim::Simulator simulator(zenoh::Config::from_str(Listener(tcp_port, tls_port, certs)));
  simulator.AddRobot(korvo::vyr::ProductModel::Olvar_LL, kSerial).robot().MakeReady();

  const std::string tcp = Connector("tcp/127.0.0.1:" + std::to_string(tcp_port), "");
  const std::string tls =
      Connector("tls/127.0.0.1:" + std::to_string(tls_port), Tls(certs, "connect"));
  Samples on_tcp, on_tls;
  for (int r = 0; r < rounds; ++r) {
    Round(tcp, on_tcp);
    Round(tls, on_tls);
  }

  const double stream_tcp = Median(on_tcp.stream_us), stream_tls = Median(on_tls.stream_us);
  const double rtt_tcp = Median(on_tcp.round_trip_us), rtt_tls = Median(on_tls.round_trip_us);
  std::printf("%d rounds per link, medians (mutual TLS against plain TCP, loopback)\n", rounds);
  std::printf("%-34s %10s %10s %8s\n", "", "tcp", "tls", "tls/tcp");
  std::printf("%-34s %8.2f us %8.2f us %8.2f\n", "StreamJointTorque call (two arms)", stream_tcp,
              stream_tls, stream_tls / stream_tcp);
  std::printf("%-34s %8.1f us %8.1f us %8.2f\n", "request round trip (plan_list())", rtt_tcp,
              rtt_tls, rtt_tls / rtt_tcp);
  return 0;
}
