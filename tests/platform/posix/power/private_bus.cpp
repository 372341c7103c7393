#include "tests/platform/posix/power/private_bus.h"

#include <pwd.h>
#include <unistd.h>

#include <fstream>

namespace {

// Everything is allowed to the test's user; no service directory, so nothing is ever activated
// and a call to a name nobody owns fails at once.
std::string Configuration(const std::string& socketPath, const std::string& user)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>system</type>\n"
           "  <listen>unix:path=" +
           socketPath +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"" +
           user +
           "\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_destination=\"*\"/>\n"
           "    <allow receive_sender=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

}  // namespace

std::string PrivateSystemBus::Start(const std::string& folder)
{
    const passwd* pUser = getpwuid(getuid());
    if (pUser == nullptr) {
        return std::string();
    }
    std::string configPath = folder + "/system-bus.conf";
    {
        std::ofstream config(configPath);
        config << Configuration(folder + "/system_bus_socket", pUser->pw_name);
        if (!config) {
            return std::string();
        }
    }
    // It says on stderr that it may not raise its descriptor limit, as the system bus would:
    // kept in the folder, out of the test's output.
    if (!daemon_.Start({DBUS_DAEMON_PATH, "--config-file=" + configPath, "--nofork", "--nopidfile",
                        "--print-address"},
                       folder + "/dbus-daemon.log")) {
        return std::string();
    }
    // The daemon prints its address once it listens.
    return daemon_.ReadLine(10000).value_or(std::string());
}
