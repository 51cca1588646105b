#include <gtest/gtest.h>

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QuentaPlatform.h>

#include <chrono>
#include <string>

#include "adambridge/ADAMbridge.h"
#include "adambridge/AdamConfig.h"
#include "tests/host/HostTestSupport.h"
#include "tests/platform/TempRoot.h"

namespace {

using hosttest::runCommand;

// A device root whose ADAMbridge.conf names `port`, with QUENTA_ROOT set.
class BridgeRoot : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QUENTA_ROOT", root.path().c_str(), 1); }
  void TearDown() override {
    ADAM6050CloseConnection();
    unsetenv("QUENTA_ROOT");
  }
  void usePort(int port) { ASSERT_TRUE(adambridge::writeConfig(root.path(), static_cast<unsigned>(port))); }
  std::string machine(const std::string& arguments) {
    return std::string(QUENTA_MACHINE) + " --root " + root.path() + " " + arguments;
  }
  hosttest::DeviceRoot root;
};

// The simulated module on a free port of 127.0.0.1.
class Simulator : public BridgeRoot {
 protected:
  void SetUp() override {
    BridgeRoot::SetUp();
    ASSERT_TRUE(simulator.start({QUENTA_MACHINE, "--root", root.path(), "dio", "serve", "--listen", "127.0.0.1:0"}));
    ASSERT_TRUE(simulator.waitForOutput("\n", 10000)) << simulator.errors();
    port = std::stoi(simulator.output().substr(simulator.output().rfind(':') + 1));
    usePort(port);
  }
  void TearDown() override {
    EXPECT_EQ(0, simulator.stop(SIGTERM, 5000));
    BridgeRoot::TearDown();
  }
  // mbpoll's options, then the values it writes (none: it reads).
  std::string mbpoll(const std::string& options, const std::string& values = "") {
    int exitCode = -1;
    return runCommand("mbpoll -m tcp -1 -p " + std::to_string(port) + " " + options + " 127.0.0.1 " + values, &exitCode);
  }
  hosttest::HostProcess simulator;
  int port = 0;
};

TEST_F(Simulator, ReadsTheInputsAndOutputsThatAnotherClientSet) {
  int exitCode = -1;
  ASSERT_NE(std::string::npos, runCommand("mbpoll -h", &exitCode).find("mbpoll"))
      << "mbpoll is not installed (scripts/install-deps.sh installs it)";
  // Inputs set by `dio set-inputs`, outputs written by mbpoll (coils 17-22 in
  // its 1-based numbering are addresses 16-21), read back through the bridge.
  struct Case {
    const char* inputs;
    const char* firstCoil;
    const char* coilValues;
    WORD expectedInputs;
    BYTE expectedOutputs;
  } cases[] = {
      {"0", "-r 17", "0 0 0 0 0 0", 0, 0},
      {"2049", "-r 17", "1 0 1", 2049, 5},
      {"4095", "-r 17", "1 1 1 1 1 1", 4095, 63},
      {"1", "-r 22", "0", 1, 31},
  };
  for (const Case& c : cases) {
    ASSERT_EQ("", runCommand(machine(std::string("dio set-inputs ") + c.inputs), &exitCode));
    ASSERT_NE(std::string::npos, mbpoll(std::string("-t 0 ") + c.firstCoil, c.coilValues).find("Written"));
    char address[] = "127.0.0.1";
    ASSERT_EQ(1, ADAM6050EstablishConnection(address));
    WORD inputs = 0;
    BYTE outputs = 0;
    EXPECT_EQ(1, ADAM6050ReadInputs(&inputs));
    EXPECT_EQ(1, ADAM6050ReadOutputs(&outputs));
    EXPECT_EQ(1, ADAM6050CloseConnection());
    EXPECT_EQ(c.expectedInputs, inputs) << c.inputs;
    EXPECT_EQ(c.expectedOutputs, outputs) << c.coilValues;
    EXPECT_EQ("{\"inputs\":" + std::to_string(c.expectedInputs) + ",\"outputs\":" +
                  std::to_string(c.expectedOutputs) + "}\n",
              runCommand(machine("dio show"), &exitCode));
  }
  // What the module has not got, as mbpoll reports its exceptions.
  struct Refusal {
    const char* options;
    const char* values;
    const char* answer;
  } refused[] = {
      {"-t 1 -r 12 -c 2", "", "Illegal data address"},  // discrete inputs end at 11
      {"-t 0 -r 13", "", "Illegal data address"},        // coils 12-15 do not exist
      {"-t 0 -r 1", "1", "Illegal data address"},        // inputs cannot be written
      {"-t 0 -r 22 -c 2", "", "Illegal data address"},   // coils end at 21
      {"-t 4 -r 1", "", "Illegal function"},             // no holding registers
  };
  for (const Refusal& r : refused) {
    EXPECT_NE(std::string::npos, mbpoll(r.options, r.values).find(r.answer)) << r.options << " " << r.values;
  }
}

TEST_F(BridgeRoot, AModuleThatIsNotThereAnswersWithinTheTimeOuts) {
  // A listener that never accepts: the kernel completes the connection, and
  // nobody ever answers a request.
  int silent = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(0, bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, listen(silent, 4));
  ASSERT_EQ(0, getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length));
  usePort(ntohs(address.sin_port));
  char loopback[] = "127.0.0.1";
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(1, ADAM6050EstablishConnection(loopback));
  WORD inputs = 7;
  BYTE outputs = 7;
  EXPECT_EQ(0, ADAM6050ReadInputs(&inputs));
  EXPECT_EQ(0, ADAM6050ReadOutputs(&outputs));
  EXPECT_EQ(7, inputs);
  EXPECT_EQ(7, outputs);
  EXPECT_LT(millisecondsSince(start), 2 * 300 + 300) << "two reads of at most 300 ms each";
  ADAM6050CloseConnection();

  // Nobody listening now: refused at once. Texts that are no module address
  // are refused without any connection.
  close(silent);
  const char* refused[] = {"127.0.0.1", "0.0.0.0", "127.0.0", "127.0.0.256", "localhost", ""};
  for (const char* text : refused) {
    std::string copy = text;
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, ADAM6050EstablishConnection(&copy[0])) << text;
    EXPECT_LT(millisecondsSince(start), 300) << text;
    EXPECT_EQ(0, ADAM6050ReadInputs(&inputs)) << "no connection after " << text;
  }
  EXPECT_EQ(0, ADAM6050EstablishConnection(nullptr));
  EXPECT_EQ(0, ADAM6050CloseConnection());
}

}  // namespace
