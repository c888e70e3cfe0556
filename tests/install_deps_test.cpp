// scripts/install-deps.sh and scripts/odbc-driver.sh against a fake Debian: dpkg-query,
// dpkg, apt-get, sudo, systemctl, service and pg_lsclusters are scripts on PATH that answer
// from files and record what they were asked, and ROWPRESS_DEPS_ROOT stands for / in the
// system files that the script changes. Nothing of the real machine is read or changed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::readFile;
using support::writeFile;
using ::testing::HasSubstr;
using ::testing::Not;

// Answers whether a package is installed: those named in FAKE/installed, and, when the file
// FAKE/everything exists, every package that is not LibreOffice and not named in
// FAKE/absent.
constexpr char kDpkgQuery[] = R"sh(#!/bin/bash
pkg="${@: -1}"
installed=0
grep -qx "$pkg" "$FAKE/installed" 2>/dev/null && installed=1
if [ -e "$FAKE/everything" ]; then
  case "$pkg" in libreoffice*) ;; *) grep -qx "$pkg" "$FAKE/absent" 2>/dev/null || installed=1 ;; esac
fi
[ "$installed" -eq 1 ] || { echo "dpkg-query: no packages found matching $pkg" >&2; exit 1; }
echo "install ok installed"
)sh";

// Simulations print "Remv" lines from FAKE/removes/PACKAGE. An install records the state of
// the system files at that moment, and then acts as the packages would: postgresql-common
// brings its createcluster.conf, mariadb-server starts its server (a sleep standing for it)
// and, under systemd, enables its unit; postgresql-15 starts a cluster when
// FAKE/starts-cluster exists. When FAKE/hold exists, an install writes its process id to
// FAKE/holding and waits until it is killed.
constexpr char kAptGet[] = R"sh(#!/bin/bash
echo "$*" >> "$FAKE/apt.log"
case " $* " in
  *" -s "*)
    for p in "$@"; do
      case "$p" in -*|*=*|install) continue ;; esac
      echo "Inst $p (1 Debian:12)"
      [ -f "$FAKE/removes/$p" ] && sed 's/.*/Remv & [1]/' "$FAKE/removes/$p"
    done
    exit 0 ;;
  *" update "*) exit 0 ;;
esac
policy=absent
[ -x "$ROOT/usr/sbin/policy-rc.d" ] && { "$ROOT/usr/sbin/policy-rc.d" mariadb start; policy=$?; }
cluster=$(grep -h '^create_main_cluster' "$ROOT/etc/postgresql-common/createcluster.conf" 2>/dev/null)
echo "  policy-rc.d: $policy; ${cluster:-no create_main_cluster}" >> "$FAKE/apt.log"
if [ -e "$FAKE/hold" ]; then
  echo $$ > "$FAKE/holding.new" && mv "$FAKE/holding.new" "$FAKE/holding"
  while :; do sleep 0.05; done
fi
for p in "$@"; do
  case "$p" in
    postgresql-common)
      mkdir -p "$ROOT/etc/postgresql-common"
      printf '# the default\n#create_main_cluster = true\nssl = on\n' > "$ROOT/etc/postgresql-common/createcluster.conf"
      echo postgresql-common >> "$FAKE/installed" ;;
    mariadb-server)
      mkdir -p "$ROOT/run/mysqld"
      setsid sleep 600 < /dev/null > /dev/null 2>&1 &
      echo $! > "$ROOT/run/mysqld/mysqld.pid"
      [ -d "$ROOT/run/systemd/system" ] && echo enabled > "$FAKE/mariadb.enabled"
      echo mariadb-server >> "$FAKE/installed" ;;
    postgresql-15)
      [ -e "$FAKE/starts-cluster" ] && echo "15 main 5433 online postgres /var/lib/postgresql/15/main log" >> "$FAKE/clusters"
      echo postgresql-15 >> "$FAKE/installed" ;;
    -*|*=*|install) ;;
    *) echo "$p" >> "$FAKE/installed" ;;
  esac
done
exit 0
)sh";

// Stopping MariaDB ends its server and removes its pid file, as mariadbd does. The fake
// systemctl and service begin with it.
constexpr char kStopServer[] = R"sh(#!/bin/bash
stop_mariadb() {
  kill "$(cat "$ROOT/run/mysqld/mysqld.pid")" 2>/dev/null
  rm -f "$ROOT/run/mysqld/mysqld.pid"
}
)sh";

constexpr char kSystemctl[] = R"sh(
echo "systemctl $*" >> "$FAKE/services.log"
case "$1" in
  is-active)
    if [ -s "$ROOT/run/mysqld/mysqld.pid" ]; then echo active; else echo inactive; exit 3; fi ;;
  is-enabled)
    state=$(cat "$FAKE/$2.enabled" 2>/dev/null || echo disabled)
    echo "$state"; [ "$state" = enabled ] ;;
  stop) stop_mariadb ;;
  disable) echo disabled > "$FAKE/$2.enabled" ;;
esac
)sh";

constexpr char kService[] = R"sh(
echo "service $*" >> "$FAKE/services.log"
[ "$1 $2" = "mariadb stop" ] && stop_mariadb
exit 0
)sh";

class InstallDepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(bin_);
    std::filesystem::create_directories(fake_ / "removes");
    std::filesystem::create_directories(root_ + "/usr/sbin");
    addCommand("dpkg-query", kDpkgQuery);
    addCommand("apt-get", kAptGet);
    addCommand("sudo", "#!/bin/bash\nexec \"$@\"\n");
    addCommand("systemctl", std::string(kStopServer) + kSystemctl);
    addCommand("service", std::string(kStopServer) + kService);
    addCommand("pg_lsclusters", "#!/bin/bash\ncat \"$FAKE/clusters\" 2>/dev/null\nexit 0\n");
    addCommand("pg_ctlcluster",
               "#!/bin/bash\necho \"pg_ctlcluster $*\" >> \"$FAKE/services.log\"\n"
               "sed -i \"/^$1 $2 .* online /d\" \"$FAKE/clusters\"\n");
  }

  void TearDown() override {
    // The server that a fake install started, should the script have left it.
    const std::string pidFile = root_ + "/run/mysqld/mysqld.pid";
    if (fileExists(pidFile)) ::kill(std::stoi(readFile(pidFile)), SIGKILL);
    endHeldInstall();
  }

  // A held install that its script left going ends.
  void endHeldInstall() {
    if (!fileExists(fake_ / "holding")) return;
    ::kill(std::stoi(readFile(fake_ / "holding")), SIGKILL);
    std::filesystem::remove(fake_ / "holding");
  }

  void addCommand(const std::string& name, const std::string& script) {
    writeFile(bin_ + "/" + name, script);
    ::chmod((bin_ + "/" + name).c_str(), 0755);
  }

  void installed(const std::vector<std::string>& packages) {
    std::string lines;
    for (const std::string& p : packages) lines += p + "\n";
    writeFile(fake_ / "installed", lines);
  }
  // Every package but LibreOffice's and `absent` is installed.
  void everythingBut(const std::vector<std::string>& absent) {
    writeFile(fake_ / "everything", "");
    std::string lines;
    for (const std::string& p : absent) lines += p + "\n";
    writeFile(fake_ / "absent", lines);
  }

  // Runs a script of scripts/ with bash; its exit status, standard output and standard error.
  int run(const std::vector<std::string>& args, const std::string& script = "install-deps.sh") {
    const support::ChildResult result =
        support::runProgram(command(args, script), support::kNoLimit, environment());
    out_ = result.out;
    err_ = result.err;
    return result.exitStatus;
  }
  std::vector<std::string> command(const std::vector<std::string>& args,
                                   const std::string& script = "install-deps.sh") {
    std::vector<std::string> argv = {"/bin/bash", ROWPRESS_SOURCE_DIR "/scripts/" + script};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  support::EnvironmentChanges environment() {
    return {{"PATH", bin_ + ":/usr/bin:/bin"},
            {"FAKE", fake_.path()},
            {"ROOT", root_},
            {"ROWPRESS_DEPS_ROOT", root_}};
  }

  // Starts install-deps.sh in `script` and waits until its install is held; false when the
  // script never got there.
  bool startHeldInstall(support::ChildProcess& script) {
    writeFile(fake_ / "hold", "");
    if (!script.start(command({}), environment())) return false;
    for (int i = 0; i < 400 && !fileExists(fake_ / "holding"); ++i) {
      if (!script.running()) return false;
      ::usleep(25000);
    }
    return fileExists(fake_ / "holding");
  }
  bool holdingInstallRuns() {
    return fileExists(fake_ / "holding") && ::kill(std::stoi(readFile(fake_ / "holding")), 0) == 0;
  }

  std::string aptLog() { return fileExists(fake_ / "apt.log") ? readFile(fake_ / "apt.log") : ""; }
  std::string servicesLog() {
    return fileExists(fake_ / "services.log") ? readFile(fake_ / "services.log") : "";
  }

  support::TempDir fake_;
  const std::string bin_ = fake_ / "bin";
  const std::string root_ = fake_ / "root";
  std::string out_, err_;
};

TEST_F(InstallDepsTest, AnInstalledLibreOfficeIsUsedAndTheNoGuiCalcOnlyGoesWhereNoneIs) {
  struct Case {
    std::vector<std::string> installed;
    const char* output;
  };
  const Case cases[] = {
      {{}, "Would install: libreoffice-calc-nogui\n"},
      {{"libreoffice-core", "libreoffice-calc"}, "Nothing to install.\n"},
      {{"libreoffice", "libreoffice-core", "libreoffice-calc"}, "Nothing to install.\n"},
      {{"libreoffice-core-nogui", "libreoffice-calc-nogui"}, "Nothing to install.\n"},
      // A desktop LibreOffice without Calc gets the desktop Calc, which removes nothing.
      {{"libreoffice-core", "libreoffice-writer"}, "Would install: libreoffice-calc\n"},
      {{"libreoffice-core-nogui"}, "Would install: libreoffice-calc-nogui\n"},
  };
  everythingBut({});
  for (const Case& c : cases) {
    std::string names;
    for (const std::string& p : c.installed) names += p + " ";
    SCOPED_TRACE(names);
    installed(c.installed);
    EXPECT_EQ(run({"--dry-run"}), 0) << err_;
    EXPECT_EQ(out_, c.output);
  }
  EXPECT_THAT(aptLog(), Not(HasSubstr("update")));
  EXPECT_THAT(aptLog(), Not(HasSubstr("600 install")));  // simulations only
}

TEST_F(InstallDepsTest, TheDemoInstallsOnlyWhatBuildingAndTheDemoNeed) {
  installed({});
  EXPECT_EQ(run({"--demo", "--dry-run"}), 0) << err_;
  EXPECT_EQ(out_,
            "Would install: build-essential cmake ninja-build pkg-config unixodbc unixodbc-dev "
            "libsqliteodbc sqlite3 libxlsxwriter-dev libzip-dev libxml2-dev qt6-base-dev "
            "nlohmann-json3-dev "
            "libssl-dev libicu-dev\n");
  // The test command adds the spreadsheet program and the database servers.
  EXPECT_EQ(run({"--dry-run"}), 0) << err_;
  EXPECT_THAT(out_, HasSubstr(" libreoffice-calc-nogui "));
  EXPECT_THAT(out_, HasSubstr(" python3-openpyxl "));
  EXPECT_THAT(out_, HasSubstr(" postgresql-15 "));
  EXPECT_THAT(out_, HasSubstr(" mariadb-server "));
  EXPECT_THAT(out_, HasSubstr(" libgtest-dev "));
}

TEST_F(InstallDepsTest, AnInstallThatWouldRemoveAPackageIsRefusedNamingBoth) {
  everythingBut({"cmake", "mariadb-server"});
  installed({"libreoffice-calc"});
  writeFile(fake_ / "removes/mariadb-server", "mysql-server-core-8.0\nmysql-server-8.0\n");
  const std::string refusal =
      "install-deps.sh: installing mariadb-server would remove mysql-server-core-8.0 "
      "mysql-server-8.0; nothing was installed\n";

  EXPECT_EQ(run({"--dry-run"}), 1);
  EXPECT_THAT(err_, HasSubstr(refusal));
  EXPECT_THAT(err_, Not(HasSubstr("installing cmake")));

  EXPECT_EQ(run({}), 1);
  EXPECT_THAT(err_, HasSubstr(refusal));
  // Only simulations ran: nothing was installed, and no system file was touched.
  EXPECT_THAT(aptLog(),
              HasSubstr("-s install -y -q --no-install-recommends cmake mariadb-server\n"));
  EXPECT_THAT(aptLog(), Not(HasSubstr("600 install")));
  EXPECT_THAT(aptLog(), Not(HasSubstr("policy-rc.d:")));
  EXPECT_FALSE(fileExists(root_ + "/usr/sbin/policy-rc.d"));
}

TEST_F(InstallDepsTest, ServersThatTheInstallStartsAreStoppedAndSystemFilesComeBack) {
  everythingBut({"postgresql-common", "postgresql-15", "mariadb-server"});
  installed({"libreoffice-calc"});
  const std::string policy = "#!/bin/sh\n# the machine's own\nexit 0\n";
  writeFile(root_ + "/usr/sbin/policy-rc.d", policy);
  ::chmod((root_ + "/usr/sbin/policy-rc.d").c_str(), 0755);

  EXPECT_EQ(run({}), 0) << err_;
  // postgresql-common first, then the servers with no service start and no main cluster.
  const std::string log = aptLog();
  const std::size_t common = log.find(
      "install -y -q --no-install-recommends postgresql-common\n"
      "  policy-rc.d: 101; no create_main_cluster\n");
  ASSERT_NE(common, std::string::npos) << log;
  EXPECT_NE(log.find("install -y -q --no-install-recommends mariadb-server postgresql-15\n"
                     "  policy-rc.d: 101; create_main_cluster = false\n",
                     common),
            std::string::npos)
      << log;
  // The machine's files as they were, the package's own createcluster.conf included.
  EXPECT_EQ(readFile(root_ + "/usr/sbin/policy-rc.d"), policy);
  EXPECT_EQ(readFile(root_ + "/etc/postgresql-common/createcluster.conf"),
            "# the default\n#create_main_cluster = true\nssl = on\n");
  // The MariaDB server that the install started was stopped again.
  EXPECT_EQ(servicesLog(), "service mariadb stop\n");
  EXPECT_FALSE(fileExists(root_ + "/run/mysqld/mysqld.pid"));
}

TEST_F(InstallDepsTest, UnderSystemdTheMariaDbServiceIsStoppedAndDisabledAgain) {
  std::filesystem::create_directories(root_ + "/run/systemd/system");
  everythingBut({"postgresql-15", "mariadb-server"});
  installed({"libreoffice-calc"});
  std::filesystem::create_directories(root_ + "/etc/postgresql-common");
  const std::string ownConfig = "create_main_cluster = true\n# mine\n";
  writeFile(root_ + "/etc/postgresql-common/createcluster.conf", ownConfig);

  EXPECT_EQ(run({}), 0) << err_;
  EXPECT_THAT(aptLog(), HasSubstr("install -y -q --no-install-recommends mariadb-server "
                                  "postgresql-15\n  policy-rc.d: 101; create_main_cluster = "
                                  "false\n"));
  EXPECT_THAT(aptLog(), Not(HasSubstr("install -y -q --no-install-recommends postgresql-common")));
  EXPECT_EQ(readFile(root_ + "/etc/postgresql-common/createcluster.conf"), ownConfig);
  // The temporary policy is gone: there was none before.
  EXPECT_FALSE(std::filesystem::exists(root_ + "/usr/sbin/policy-rc.d"));
  EXPECT_THAT(servicesLog(), HasSubstr("systemctl stop mariadb\n"));
  EXPECT_THAT(servicesLog(), HasSubstr("systemctl disable mariadb\n"));
  EXPECT_EQ(readFile(fake_ / "mariadb.enabled"), "disabled\n");
  EXPECT_FALSE(fileExists(root_ + "/run/mysqld/mysqld.pid"));
}

TEST_F(InstallDepsTest, AServerThatRanBeforeKeepsRunning) {
  std::filesystem::create_directories(root_ + "/run/mysqld");
  everythingBut({"cmake"});
  installed({"libreoffice-calc"});
  // A MariaDB service that was running before (a sleep standing for it).
  ASSERT_EQ(std::system(("setsid sleep 600 < /dev/null > /dev/null 2>&1 & echo $! > '" + root_ +
                         "/run/mysqld/mysqld.pid" + "'")
                            .c_str()),
            0);
  EXPECT_EQ(run({}), 0) << err_;
  EXPECT_THAT(aptLog(), HasSubstr("install -y -q --no-install-recommends cmake\n"));
  EXPECT_EQ(servicesLog(), "");
  ASSERT_TRUE(fileExists(root_ + "/run/mysqld/mysqld.pid"));
  EXPECT_EQ(::kill(std::stoi(readFile(root_ + "/run/mysqld/mysqld.pid")), 0), 0);
}

TEST_F(InstallDepsTest, AClusterThatTheInstallStartedIsStoppedAndOneThatRanStays) {
  everythingBut({"postgresql-15"});
  installed({"libreoffice-calc"});
  writeFile(fake_ / "clusters", "14 main 5432 online postgres /var/lib/postgresql/14/main log\n");
  writeFile(fake_ / "starts-cluster", "");
  EXPECT_EQ(run({}), 0) << err_;
  EXPECT_EQ(servicesLog(), "pg_ctlcluster 15 main stop\n");
  EXPECT_EQ(readFile(fake_ / "clusters"),
            "14 main 5432 online postgres /var/lib/postgresql/14/main log\n");
}

// A run killed outright (SIGKILL) leaves its changed files; the next start, whatever it has
// to install, puts them back: the marked policy-rc.d goes when there was none before, the
// machine's own comes back with its mode, and so does the changed createcluster.conf. A dry
// run only says so.
TEST_F(InstallDepsTest, WhatAKilledRunChangedIsPutBackAtTheNextStart) {
  const std::string policy = root_ + "/usr/sbin/policy-rc.d";
  const std::string config = root_ + "/etc/postgresql-common/createcluster.conf";
  const std::string ownPolicy = "#!/bin/sh\n# the machine's own\nexit 0\n";
  const std::string ownConfig = "create_main_cluster = true\n# mine\n";
  std::filesystem::create_directories(root_ + "/etc/postgresql-common");
  installed({"libreoffice-calc"});
  for (const bool hadPolicy : {false, true}) {
    SCOPED_TRACE(hadPolicy ? "with the machine's own policy-rc.d" : "without a policy-rc.d");
    std::filesystem::remove(fake_ / "hold");
    if (hadPolicy) {
      writeFile(policy, ownPolicy);
      ::chmod(policy.c_str(), 0750);
    }
    writeFile(config, ownConfig);
    everythingBut({"postgresql-15"});
    {
      support::ChildProcess script(fake_.path());
      ASSERT_TRUE(startHeldInstall(script)) << script.err();
      script.kill(SIGKILL);
      script.wait();
      endHeldInstall();
    }
    // What the killed run left: its policy-rc.d that lets no service start, the cluster
    // setting turned off.
    ASSERT_TRUE(fileExists(policy));
    EXPECT_NE(readFile(policy), ownPolicy);
    EXPECT_THAT(readFile(policy), HasSubstr("exit 101"));
    EXPECT_THAT(readFile(config), HasSubstr("create_main_cluster = false"));

    std::filesystem::remove(fake_ / "hold");
    const std::string left = readFile(policy);
    EXPECT_EQ(run({"--dry-run"}), 0) << err_;
    EXPECT_EQ(out_,
              "Would put back the system files that a killed run of install-deps.sh changed.\n"
              "Would install: postgresql-15\n");
    EXPECT_EQ(readFile(policy), left);

    everythingBut({});  // nothing to install
    EXPECT_EQ(run({}), 0) << err_;
    EXPECT_EQ(out_, "install-deps.sh: putting back the system files that a killed run changed\n");
    if (hadPolicy) {
      ASSERT_TRUE(fileExists(policy));
      EXPECT_EQ(readFile(policy), ownPolicy);
      struct stat status {};
      ASSERT_EQ(::stat(policy.c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 07777, 0750u);
    } else {
      EXPECT_FALSE(fileExists(policy));
    }
    EXPECT_EQ(readFile(config), ownConfig);
    // No saved copy is left beside them.
    EXPECT_EQ(support::listDirectory(root_ + "/usr/sbin"),
              hadPolicy ? std::vector<std::string>{"policy-rc.d"} : std::vector<std::string>{});
    EXPECT_EQ(support::listDirectory(root_ + "/etc/postgresql-common"),
              std::vector<std::string>{"createcluster.conf"});
    // Put back once: the next start finds nothing to do.
    EXPECT_EQ(run({}), 0) << err_;
    EXPECT_EQ(out_, "");
  }
}

// A policy-rc.d that install-deps.sh did not write stays as it is, even one that answers 101
// as its own does (Debian's container images have one).
TEST_F(InstallDepsTest, APolicyRcdThatItDidNotWriteIsLeftAlone) {
  const std::string policy = root_ + "/usr/sbin/policy-rc.d";
  const std::string foreign = "#!/bin/sh\n# Docker: no service starts in an image.\nexit 101\n";
  writeFile(policy, foreign);
  ::chmod(policy.c_str(), 0755);
  everythingBut({});
  installed({"libreoffice-calc"});
  EXPECT_EQ(run({"--dry-run"}), 0) << err_;
  EXPECT_EQ(out_, "Nothing to install.\n");
  EXPECT_EQ(run({}), 0) << err_;
  EXPECT_EQ(out_, "");
  EXPECT_EQ(readFile(policy), foreign);
  // An install keeps it, and gives it back afterwards.
  everythingBut({"cmake"});
  EXPECT_EQ(run({}), 0) << err_;
  EXPECT_THAT(aptLog(), HasSubstr("--no-install-recommends cmake\n  policy-rc.d: 101;"));
  EXPECT_EQ(readFile(policy), foreign);
  EXPECT_EQ(support::listDirectory(root_ + "/usr/sbin"), std::vector<std::string>{"policy-rc.d"});
}

// SIGINT, SIGTERM or SIGHUP to the script alone, while apt-get installs: the install is
// stopped, the system files come back, and the script ends at once with 128 + the signal.
TEST_F(InstallDepsTest, ASignalStopsTheInstallAndPutsTheSystemFilesBack) {
  const std::string policy = root_ + "/usr/sbin/policy-rc.d";
  const std::string ownPolicy = "#!/bin/sh\n# the machine's own\nexit 0\n";
  installed({"libreoffice-calc"});
  everythingBut({"cmake"});
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const bool hadPolicy : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + (hadPolicy ? ", own policy-rc.d" : ""));
      if (hadPolicy) writeFile(policy, ownPolicy);
      support::ChildProcess script(fake_.path());
      ASSERT_TRUE(startHeldInstall(script)) << script.err();
      ASSERT_THAT(readFile(policy), HasSubstr("exit 101"));
      script.kill(signal);
      const support::ChildResult result = script.wait(std::chrono::seconds(10));
      EXPECT_FALSE(result.timedOut) << "the script waited for the install to end by itself";
      EXPECT_EQ(result.exitStatus, 128 + signal) << result.err;
      EXPECT_FALSE(holdingInstallRuns()) << "apt-get still runs";
      endHeldInstall();
      if (hadPolicy) {
        EXPECT_EQ(readFile(policy), ownPolicy);
      } else {
        EXPECT_FALSE(fileExists(policy));
      }
      EXPECT_EQ(support::listDirectory(root_ + "/usr/sbin"),
                hadPolicy ? std::vector<std::string>{"policy-rc.d"} : std::vector<std::string>{});
      std::filesystem::remove(policy);
    }
  }
}

// What a run that still goes has changed is no leftover: a second run waits for the first to
// end, and then finds the files as they were.
TEST_F(InstallDepsTest, ASecondRunWaitsForTheFirstInsteadOfPuttingItsFilesBack) {
  const std::string policy = root_ + "/usr/sbin/policy-rc.d";
  installed({"libreoffice-calc"});
  everythingBut({"cmake"});
  support::ChildProcess first(fake_.path());
  ASSERT_TRUE(startHeldInstall(first)) << first.err();
  const std::string changed = readFile(policy);
  std::filesystem::remove(fake_ / "hold");
  const std::string secondDir = fake_ / "second";
  std::filesystem::create_directories(secondDir);
  support::ChildProcess second(secondDir);
  ASSERT_TRUE(second.start(command({}), environment()));
  ::usleep(1000000);
  EXPECT_TRUE(second.running()) << second.err();
  EXPECT_EQ(readFile(policy), changed);
  first.kill(SIGTERM);
  EXPECT_EQ(first.wait(std::chrono::seconds(10)).exitStatus, 143);
  const support::ChildResult result = second.wait(std::chrono::seconds(10));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out,
            "install-deps.sh: waiting for another install-deps.sh to end\nInstalling: cmake\n");
  EXPECT_FALSE(fileExists(policy));
}

// The one place where scripts, tests and the benchmark learn a driver's path: the library of
// the machine's own architecture from its package's file list (not another file of the
// package that merely starts alike), or a failure that names the package to install.
TEST_F(InstallDepsTest, OdbcDriverPrintsThePackagedLibraryOrNamesThePackageToInstall) {
  const std::string library = fake_ / "lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so";
  std::filesystem::create_directories(fake_ / "lib/aarch64-linux-gnu/odbc");
  writeFile(library, "");
  addCommand("dpkg", R"sh(#!/bin/bash
[ "$1" = --print-architecture ] && { echo arm64; exit 0; }
if [ "$1 $2" != "-L libsqliteodbc:arm64" ]; then
  echo "dpkg-query: package '$2' is not installed" >&2
  exit 1
fi
echo /usr/share/doc/libsqliteodbc
echo "$FAKE/lib/aarch64-linux-gnu/odbc/libsqlite3odbc-0.9998.so"
echo "$FAKE/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so"
)sh");
  EXPECT_EQ(run({"libsqlite3odbc.so"}, "odbc-driver.sh"), 0) << err_;
  EXPECT_EQ(out_, library + "\n");

  EXPECT_EQ(run({"libmaodbc.so"}, "odbc-driver.sh"), 1);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_,
            "odbc-driver.sh: the ODBC driver libmaodbc.so is missing (install odbc-mariadb)\n");
  EXPECT_EQ(run({"psqlodbcw.so"}, "odbc-driver.sh"), 1);
  EXPECT_THAT(err_, HasSubstr("(install odbc-postgresql)"));

  // Listed by its package but not on disk: missing all the same.
  std::filesystem::remove(library);
  EXPECT_EQ(run({"libsqlite3odbc.so"}, "odbc-driver.sh"), 1);
  EXPECT_THAT(err_, HasSubstr("(install libsqliteodbc)"));
}

}  // namespace
}  // namespace rowpress
