#include "machine/port_reservation.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "core/report.h"
#include "support/report_lines.h"

namespace kestrova::machine {
namespace {

using Lines = std::vector<std::string>;

// What the code under test reported while the fixture lived, as "LEVEL text" lines.
Lines& Reports() { return kestrova::test::ReportLines::Lines(); }

std::string Render(const std::vector<PortExclusion>& table) {
  std::string text =
      "\r\nProtocol tcp Port Exclusion Ranges\r\n\r\nStart Port    End Port\r\n"
      "----------    --------\r\n";
  for (const PortExclusion& e : table) {
    text += "     " + std::to_string(e.start) + "       " + std::to_string(e.end) + (e.administered ? "     *" : "") +
            "\r\n";
  }
  return text + "\r\n* - Administered port exclusions.\r\n\r\n";
}

// netsh and the registry as a script: a table that add and delete change as netsh would (or as the test says),
// listing codes, and the mark with its failures. Every netsh call is recorded.
class ScriptedPortSystem : public PortSystem {
 public:
  std::vector<PortExclusion> table;
  std::deque<long> listCodes;  // codes of the next listings; 0 when empty
  long changeCode = 0;
  std::string changeOutput = "Ok.\r\n\r\n";
  std::function<void(std::vector<PortExclusion>&)> onAdd = [](std::vector<PortExclusion>& t) {
    t.push_back({kFirstReservedPort, kLastReservedPort, true});
  };
  std::function<void(std::vector<PortExclusion>&)> onDelete = [](std::vector<PortExclusion>& t) {
    std::erase(t, PortExclusion{kFirstReservedPort, kLastReservedPort, true});
  };
  bool mark = false;
  long writeError = 0;
  long deleteError = 0;
  Lines netsh;

  long RunNetsh(const std::string& arguments, std::string* output) override {
    netsh.push_back(arguments);
    if (arguments == kListExclusionsArguments) {
      const long code = listCodes.empty() ? 0 : listCodes.front();
      if (!listCodes.empty()) listCodes.pop_front();
      *output = code == 0 ? Render(table) : "The requested operation requires elevation.\r\n";
      return code;
    }
    *output = changeOutput;
    if (arguments == PortExclusionChangeArguments("add")) onAdd(table);
    if (arguments == PortExclusionChangeArguments("delete")) onDelete(table);
    return changeCode;
  }
  bool ReadReservationMark(const StateLocation&) override { return mark; }
  long WriteReservationMark(const StateLocation&) override {
    if (writeError == 0) mark = true;
    return writeError;
  }
  long DeleteReservationMark(const StateLocation&) override {
    if (deleteError == 0) {
      if (!mark) return kErrorFileNotFound;
      mark = false;
    }
    return deleteError;
  }
};

const std::string kList = kListExclusionsArguments;
const std::string kAdd = PortExclusionChangeArguments("add");
const std::string kDelete = PortExclusionChangeArguments("delete");

class PortReservationTest : public testing::Test {
 protected:
  ScriptedPortSystem system;
  StateLocation location;  // the machine's default key; the double never touches a registry

 private:
  kestrova::test::ReportLines reports_;
};

TEST_F(PortReservationTest, FreeRangeIsAddedVerifiedMarkedAndExits3) {
  system.table = {{5357, 5357, false}};
  EXPECT_EQ(ReservePorts(system, location), kExitPortsReserved);
  EXPECT_EQ(system.netsh, (Lines{kList, kAdd, kList}));
  EXPECT_TRUE(system.mark);
  EXPECT_EQ(Reports(),
            (Lines{"INFO ports: 1 exclusions; touching 50990-50999: none", "INFO   netsh: Ok.",
                   "INFO ports: netsh add exited 0", "INFO ports: 2 exclusions; touching 50990-50999: 50990-50999*",
                   "INFO ports: reserved 50990-50999"}));
}

TEST_F(PortReservationTest, AnAdministeredExclusionBelowTheRangeLeavesItFree) {
  system.table = {{50000, 50989, true}};
  EXPECT_EQ(ReservePorts(system, location), kExitPortsReserved);
  EXPECT_EQ(Reports().front(), "INFO ports: 1 exclusions; touching 50990-50999: none");
}

TEST_F(PortReservationTest, AMarkThatCannotBeWrittenStillReportsTheReservation) {
  system.writeError = 5;
  EXPECT_EQ(ReservePorts(system, location), kExitPortsReserved);
  EXPECT_FALSE(system.mark);
  const Lines tail(Reports().end() - 2, Reports().end());
  EXPECT_EQ(tail, (Lines{"WARN ports: could not record SOFTWARE\\Kestrova\\Corvella\\PortReservation (5); an "
                         "uninstall will leave the exclusion",
                         "INFO ports: reserved 50990-50999"}));
}

TEST_F(PortReservationTest, AnAddThatDidNotTakeExits1WithoutAMark) {
  system.onAdd = [](std::vector<PortExclusion>&) {};
  system.changeCode = 1;
  system.changeOutput = "The process cannot access the file because it is being used by another process.\r\n";
  EXPECT_EQ(ReservePorts(system, location), 1);
  EXPECT_FALSE(system.mark);
  EXPECT_EQ(Reports().back(), "ERROR ports: netsh did not add the 50990-50999 exclusion");
  EXPECT_NE(std::find(Reports().begin(), Reports().end(), "INFO ports: netsh add exited 1"), Reports().end());
}

TEST_F(PortReservationTest, ATableThatChangedDuringTheAddIsJudgedAfresh) {
  // Something else took part of the range dynamically while the add ran; the add itself did not land.
  system.onAdd = [](std::vector<PortExclusion>& t) { t.push_back({50995, 51100, false}); };
  EXPECT_EQ(ReservePorts(system, location), kExitPortsDynamic);
  EXPECT_FALSE(system.mark);
  const Lines tail(Reports().end() - 2, Reports().end());
  EXPECT_EQ(tail[0], "INFO ports: the exclusion table changed while adding 50990-50999");
  EXPECT_EQ(tail[1],
            "WARN ports: a dynamic reservation holds part of 50990-50999; the SDK still has a free port. The next "
            "Dovrecat start tries again");
}

TEST_F(PortReservationTest, AnAddThatLandsPartlyAdministeredExits0WithoutAMark) {
  system.onAdd = [](std::vector<PortExclusion>& t) { t.push_back({50990, 50994, true}); };
  EXPECT_EQ(ReservePorts(system, location), 0);
  EXPECT_FALSE(system.mark);
  EXPECT_EQ(Reports().back(),
            "INFO ports: an administered exclusion Corvella did not add covers part of 50990-50999; the SDK binds "
            "there, so leaving it");
}

TEST_F(PortReservationTest, ListingFailuresExit1) {
  system.listCodes = {1};
  EXPECT_EQ(ReservePorts(system, location), 1);
  EXPECT_EQ(system.netsh, (Lines{kList}));
  EXPECT_EQ(Reports(), (Lines{"INFO   netsh: The requested operation requires elevation.",
                              "ERROR ports: netsh could not list the port exclusions (exit 1)"}));

  // A time-out is the runner's -1, and the second listing failing after an add is a failure too.
  Reports().clear();
  system.netsh.clear();
  system.listCodes = {0, -1};
  EXPECT_EQ(ReservePorts(system, location), 1);
  EXPECT_EQ(system.netsh, (Lines{kList, kAdd, kList}));
  EXPECT_FALSE(system.mark);
  EXPECT_EQ(Reports().back(), "ERROR ports: netsh could not list the port exclusions (exit -1)");
}

TEST_F(PortReservationTest, AnExistingAdministeredExclusionIsLeftAndNamedByTheMark) {
  system.table = {{50990, 50999, true}};
  EXPECT_EQ(ReservePorts(system, location), 0);
  EXPECT_EQ(system.netsh, (Lines{kList}));
  EXPECT_EQ(Reports().back(),
            "INFO ports: 50990-50999 is already reserved by an administered exclusion that Corvella did not add; an "
            "uninstall leaves it");

  system.mark = true;
  EXPECT_EQ(ReservePorts(system, location), 0);
  EXPECT_EQ(Reports().back(),
            "INFO ports: 50990-50999 is already reserved by an administered exclusion that Corvella added");
}

TEST_F(PortReservationTest, DynamicReservationsExit5WithoutAnyChange) {
  system.table = {{50900, 50994, false}, {50995, 51094, false}};
  EXPECT_EQ(ReservePorts(system, location), kExitPortsDynamic);
  EXPECT_EQ(system.netsh, (Lines{kList}));
  EXPECT_EQ(Reports().back(),
            "WARN ports: dynamic reservations hold all of 50990-50999, so the SDK cannot start until Dovrecat adds "
            "the exclusion at its next start, normally at boot before WSL or Docker reserve ports");

  system.table = {{50900, 50994, false}};
  EXPECT_EQ(ReservePorts(system, location), kExitPortsDynamic);
  EXPECT_EQ(system.netsh, (Lines{kList, kList}));
}

TEST_F(PortReservationTest, ReleaseWithoutTheMarkTouchesNothing) {
  system.table = {{50990, 50999, true}};
  EXPECT_EQ(ReleasePorts(system, location), 0);
  EXPECT_TRUE(system.netsh.empty());
  EXPECT_EQ(system.table.size(), 1u);
  EXPECT_EQ(Reports(), (Lines{"INFO ports: Corvella did not add a 50990-50999 exclusion; leaving the exclusion "
                              "table as it is"}));
}

TEST_F(PortReservationTest, ReleaseDeletesTheMarkedExclusionAndThenTheMark) {
  system.table = {{50990, 50999, true}};
  system.mark = true;
  EXPECT_EQ(ReleasePorts(system, location), 0);
  EXPECT_EQ(system.netsh, (Lines{kList, kDelete, kList}));
  EXPECT_TRUE(system.table.empty());
  EXPECT_FALSE(system.mark);
  EXPECT_EQ(Reports().back(), "INFO ports: deleted the 50990-50999 exclusion");
}

TEST_F(PortReservationTest, ReleaseAfterAManualRemovalDropsTheMarkOnly) {
  system.mark = true;
  system.table = {{50990, 50999, false}, {50990, 51000, true}};  // neither is the one this tool added
  EXPECT_EQ(ReleasePorts(system, location), 0);
  EXPECT_EQ(system.netsh, (Lines{kList}));
  EXPECT_FALSE(system.mark);
  EXPECT_EQ(Reports().back(), "INFO ports: the 50990-50999 exclusion Corvella added is gone already");
}

TEST_F(PortReservationTest, AFailedDeleteKeepsTheMark) {
  system.table = {{50990, 50999, true}};
  system.mark = true;
  system.onDelete = [](std::vector<PortExclusion>&) {};
  system.changeCode = 1;
  EXPECT_EQ(ReleasePorts(system, location), 0);
  EXPECT_TRUE(system.mark);
  EXPECT_EQ(Reports().back(), "ERROR ports: could not delete the 50990-50999 exclusion");

  // The listing after the delete failing keeps the mark too: the outcome is unknown.
  Reports().clear();
  system.onDelete = [](std::vector<PortExclusion>& t) { t.clear(); };
  system.listCodes = {0, 1};
  EXPECT_EQ(ReleasePorts(system, location), 0);
  EXPECT_TRUE(system.mark);
  EXPECT_EQ(Reports().back(), "ERROR ports: could not delete the 50990-50999 exclusion");
}

TEST_F(PortReservationTest, AFailedListingEndsTheReleaseQuietlyWithExit0) {
  system.mark = true;
  system.listCodes = {-1};
  EXPECT_EQ(ReleasePorts(system, location), 0);
  EXPECT_TRUE(system.mark);
  EXPECT_EQ(Reports().back(), "ERROR ports: netsh could not list the port exclusions (exit -1)");
}

TEST_F(PortReservationTest, AnEmptyStateKeyIsRefusedBeforeTheMarkIsRead) {
  // A mark and an exclusion that a release under a real key would both take away.
  system.table = {{50990, 50999, true}};
  system.mark = true;
  location.key.clear();
  EXPECT_EQ(ReleasePorts(system, location), 0);
  EXPECT_TRUE(system.netsh.empty());
  EXPECT_TRUE(system.mark);
  EXPECT_EQ(system.table.size(), 1u);
  EXPECT_EQ(Reports(), (Lines{"ERROR ports: the state key is empty; not reading or deleting PortReservation at the "
                              "root of the hive"}));
}

TEST_F(PortReservationTest, AMarkThatCannotBeDeletedIsAWarning) {
  system.mark = true;
  system.deleteError = 5;
  location.key = "SOFTWARE\\Test";
  EXPECT_EQ(ReleasePorts(system, location), 0);
  EXPECT_EQ(Reports().back(), "WARN ports: could not delete SOFTWARE\\Test\\PortReservation (5)");
}

}  // namespace
}  // namespace kestrova::machine
