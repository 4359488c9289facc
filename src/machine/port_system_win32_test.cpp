// reserve-ports and release-ports against FakeTool standing in for netsh: its exclusion table is a file that the
// scripted add and delete replace, so the commands see the table change as on a real machine.
#include <gtest/gtest.h>

#include "core/log.h"
#include "machine/commands.h"
#include "machine/state_key_test_support_win32.h"
#include "support/fake_tool_win32.h"
#include "support/log_capture_win32.h"

namespace kestrova::machine {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kHead =
    "\r\nProtocol tcp Port Exclusion Ranges\r\n\r\nStart Port    End Port\r\n----------    --------\r\n";
constexpr const char* kFoot = "\r\n* - Administered port exclusions.\r\n\r\n";

std::string Table(const std::string& rows) { return kHead + rows + kFoot; }

class NetshPortsTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallLogReportSink();
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"kestrova-netsh-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const wchar_t* name : {L"\\table.txt", L"\\added.txt", L"\\deleted.txt"})
      DeleteFileW((folder_ + name).c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  std::string File(const wchar_t* name) const { return WideToUtf8(folder_ + L"\\" + name); }
  void Write(const wchar_t* name, const std::string& bytes) const {
    ASSERT_TRUE(kestrova::test::WriteBytes(folder_ + L"\\" + name, bytes));
  }

  // A netsh whose "show" prints table.txt, whose add puts added.txt in its place and whose delete deleted.txt.
  std::string StatefulScript() const {
    return "out-file=" + File(L"table.txt") + "\n" +
           "when=add excludedportrange\nout=Ok.\\r\\n\\r\\n\ncopy=" + File(L"added.txt") + "|" + File(L"table.txt") +
           "\n" + "when=delete excludedportrange\nout=Ok.\\r\\n\\r\\n\ncopy=" + File(L"deleted.txt") + "|" +
           File(L"table.txt") + "\n";
  }

  std::wstring folder_;
  kestrova::test::NativeNetshOverride override_;
  test::TestStateKey state_{"ports"};
};

TEST_F(NetshPortsTest, ReserveAndReleaseRoundTripThroughNetshWithTheMark) {
  Write(L"table.txt", Table("      5357        5357\r\n"));
  Write(L"added.txt", Table("      5357        5357\r\n     50990       50999     *\r\n"));
  Write(L"deleted.txt", Table("      5357        5357\r\n"));
  kestrova::test::FakeSystemTool netsh(L"netsh", StatefulScript());
  const std::string program = netsh.QuotedProgram();
  const std::string show = program + "int ipv4 show excludedportrange protocol=tcp";
  const std::string add =
      program + "int ipv4 add excludedportrange protocol=tcp startport=50990 numberofports=10 store=persistent";
  const std::string del =
      program + "int ipv4 delete excludedportrange protocol=tcp startport=50990 numberofports=10 store=persistent";

  {
    kestrova::test::LogCapture log;
    EXPECT_EQ(ReservePorts(state_.location), 3);
    EXPECT_EQ(log.Lines(), (Lines{"INFO ports: " + show, "INFO ports: 1 exclusions; touching 50990-50999: none",
                                  "INFO ports: " + add, "INFO   netsh: Ok.", "INFO ports: netsh add exited 0",
                                  "INFO ports: " + show, "INFO ports: 2 exclusions; touching 50990-50999: 50990-50999*",
                                  "INFO ports: reserved 50990-50999"}));
  }
  const auto mark = state_.Read("", L"PortReservation");
  EXPECT_EQ(mark.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(mark.number, 1u);

  {
    kestrova::test::LogCapture log;
    EXPECT_EQ(ReservePorts(state_.location), 0);
    EXPECT_EQ(log.Lines().back(),
              "INFO ports: 50990-50999 is already reserved by an administered exclusion that Corvella added");
  }
  {
    kestrova::test::LogCapture log;
    EXPECT_EQ(ReleasePorts(state_.location), 0);
    EXPECT_EQ(log.Lines().back(), "INFO ports: deleted the 50990-50999 exclusion");
  }
  EXPECT_EQ(state_.Read("", L"PortReservation").type, static_cast<DWORD>(REG_NONE));
  EXPECT_EQ(netsh.Calls(), (Lines{show, add, show, show, show, del, show}));

  {
    kestrova::test::LogCapture log;
    EXPECT_EQ(ReleasePorts(state_.location), 0);
    EXPECT_EQ(log.Lines(), (Lines{"INFO ports: Corvella did not add a 50990-50999 exclusion; leaving the exclusion "
                                  "table as it is"}));
  }
  EXPECT_EQ(netsh.Calls().size(), 7u);
}

TEST_F(NetshPortsTest, AnExclusionNotAddedByCorvellaSurvivesRelease) {
  Write(L"table.txt", Table("     50990       50999     *\r\n"));
  kestrova::test::FakeSystemTool netsh(L"netsh", StatefulScript());
  // A mark of the wrong type does not count as this tool's record.
  state_.SetText("", L"PortReservation", L"1");
  EXPECT_EQ(ReservePorts(state_.location), 0);
  EXPECT_EQ(ReleasePorts(state_.location), 0);
  EXPECT_EQ(netsh.Calls().size(), 1u);  // the one listing of reserve-ports; release asked nothing
}

TEST_F(NetshPortsTest, AnAddThatDoesNotTakeExits1) {
  Write(L"table.txt", Table(""));
  Write(L"added.txt", Table(""));
  kestrova::test::FakeSystemTool netsh(L"netsh", StatefulScript());
  kestrova::test::LogCapture log;
  EXPECT_EQ(ReservePorts(state_.location), 1);
  EXPECT_EQ(log.Lines().back(), "ERROR ports: netsh did not add the 50990-50999 exclusion");
  EXPECT_FALSE(state_.Exists());
}

}  // namespace
}  // namespace kestrova::machine
