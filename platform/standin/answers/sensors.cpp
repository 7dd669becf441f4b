// Battery and CPU temperature parameters from the host's /sys, in FreeBSD's
// terms: hw.acpi.battery.{life,time} and hw.acpi.acline from
// /sys/class/power_supply; dev.cpu.N.temperature and
// dev.cpu.N.coretemp.tjmax, in tenths of a kelvin, from /sys/class/hwmon.
// Both honour the host-root switch. See docs/standin.md for the mapping.
#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "standin/freebsd.h"
#include "standin/host/owners.h"
#include "standin/host/files.h"
#include "standin/answers/answers.h"
#include "standin/answers/cpus.h"

namespace standin {
namespace {

// The entries of a directory, sorted; none when it cannot be read.
std::vector<std::string> list_dir(const std::string &dir) {
    std::vector<std::string> names;
    dir_owner d(::opendir(dir.c_str()));
    if (d.dir == nullptr)
        return names;
    // A directory of /sys holds few entries; the bound keeps a strange one finite.
    while (names.size() < 4096) {
        struct dirent *e = ::readdir(d.dir);
        if (e == nullptr)
            break;
        if (e->d_name[0] != '.')
            names.emplace_back(e->d_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The first word of a small /sys file; empty when it cannot be read.
std::string read_word(const std::string &path) {
    std::string text;
    if (!read_file(path.c_str(), text, 256))
        return {};
    std::size_t end = text.find_first_of(" \t\n");
    if (end != std::string::npos)
        text.resize(end);
    return text;
}

long long read_number(const std::string &path, long long fallback = -1) {
    std::string text;
    if (!read_file(path.c_str(), text, 64))
        return fallback;
    return to_ll(text, fallback);
}

void answer_int(std::string &out, long long v) {
    int value = static_cast<int>(v);
    append_record(out, value);
}

struct power_state {
    std::string battery;  // directory of the first system battery; empty if none
    bool has_mains = false;
    bool mains_online = false;
};

power_state read_power() {
    power_state ps;
    std::string base = host_file("/sys/class/power_supply").c_str();
    for (const std::string &name : list_dir(base)) {
        std::string dir = base + "/" + name;
        std::string type = read_word(dir + "/type");
        if (type == "Mains") {
            ps.has_mains = true;
            if (read_number(dir + "/online", 0) == 1)
                ps.mains_online = true;
        } else if (type == "Battery" && ps.battery.empty()) {
            // A mouse or headset battery is not the machine's.
            if (read_word(dir + "/scope") != "Device" && read_number(dir + "/present", 1) != 0)
                ps.battery = dir;
        }
    }
    return ps;
}

long long battery_life(const std::string &dir) {
    long long capacity = read_number(dir + "/capacity");
    if (capacity >= 0)
        return capacity;
    for (const char *kind : {"energy", "charge"}) {
        long long now = read_number(dir + "/" + kind + "_now");
        long long full = read_number(dir + "/" + kind + "_full");
        if (now >= 0 && full > 0)
            return now * 100 / full;
    }
    return -1;
}

// Minutes left while discharging; -1 (no estimate) otherwise, as FreeBSD.
long long battery_minutes(const std::string &dir) {
    if (read_word(dir + "/status") != "Discharging")
        return -1;
    long long seconds = read_number(dir + "/time_to_empty_now");
    if (seconds >= 0)
        return seconds / 60;
    const char *pairs[][2] = {{"energy_now", "power_now"}, {"charge_now", "current_now"}};
    for (const auto &p : pairs) {
        long long now = read_number(dir + "/" + p[0]);
        long long rate = read_number(dir + "/" + p[1]);
        if (now >= 0 && rate > 0)
            return now * 60 / rate;
    }
    return -1;
}

// Millidegrees Celsius as tenths of a kelvin, rounded to the nearest.
long long tenths_kelvin(long long milli) {
    long long tenths = milli >= 0 ? (milli + 50) / 100 : (milli - 50) / 100;
    return tenths + 2731;
}

// "dev.cpu.N.<leaf>" with N a plain decimal number.
bool split_cpu_name(const char *name, int &cpu, std::string_view &leaf) {
    std::string_view rest(name);
    constexpr std::string_view prefix = "dev.cpu.";
    if (rest.substr(0, prefix.size()) != prefix)
        return false;
    rest.remove_prefix(prefix.size());
    std::size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string_view::npos)
        return false;
    auto [p, ec] = std::from_chars(rest.data(), rest.data() + dot, cpu);
    if (ec != std::errc() || p != rest.data() + dot || cpu < 0)
        return false;
    leaf = rest.substr(dot + 1);
    return true;
}

struct sensor {
    std::string input;  // the temperature file
    std::string crit;   // its critical (tjmax) file; empty where the driver has none
};

// The sensor of one host CPU: the coretemp input labelled "Core C" of the
// CPU's package (else the package's own), or the one sensor per package of
// the AMD and SoC drivers.
bool find_sensor(int host_cpu, sensor &out) {
    std::string topo = host_file("/sys/devices/system/cpu/cpu%d/topology/", host_cpu).c_str();
    long long package = read_number(topo + "physical_package_id", 0);
    long long core = read_number(topo + "core_id", -1);
    std::string package_label = "Package id " + std::to_string(package);
    std::string core_label = "Core " + std::to_string(core);
    std::string base = host_file("/sys/class/hwmon").c_str();
    long long per_package_seen = 0;
    for (const std::string &name : list_dir(base)) {
        std::string dir = base + "/" + name + "/";
        std::string driver = read_word(dir + "name");
        if (driver == "coretemp") {
            std::string package_input, core_input;
            bool other_package = false;
            for (const std::string &file : list_dir(dir)) {
                constexpr std::string_view suffix = "_label";
                if (file.size() <= suffix.size() ||
                    file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
                    continue;
                std::string stem = dir + file.substr(0, file.size() - suffix.size());
                std::string label;
                if (!read_file((dir + file).c_str(), label, 64))
                    continue;
                while (!label.empty() && (label.back() == '\n' || label.back() == ' '))
                    label.pop_back();
                if (label.rfind("Package id ", 0) == 0 && label != package_label)
                    other_package = true;
                if (label == package_label)
                    package_input = stem;
                else if (label == core_label)
                    core_input = stem;
            }
            if (other_package && package_input.empty())
                continue;
            std::string stem = !core_input.empty() ? core_input : package_input;
            if (stem.empty())
                continue;
            out.input = stem + "_input";
            out.crit = stem + "_crit";
            return true;
        }
        if (driver == "k10temp" || driver == "zenpower" || driver == "cpu_thermal") {
            if (driver != "cpu_thermal" && per_package_seen++ != package)
                continue;
            out.input = dir + "temp1_input";
            out.crit.clear();
            return true;
        }
    }
    return false;
}

}  // namespace

int live_acpi(const char *name, answer &a) {
    std::string_view n(name);
    bool life = n == "hw.acpi.battery.life", time = n == "hw.acpi.battery.time";
    if (!life && !time && n != "hw.acpi.acline")
        return ENOENT;
    power_state ps = read_power();
    if (life || time) {
        if (ps.battery.empty())
            return ENOENT;
        long long v = life ? battery_life(ps.battery) : battery_minutes(ps.battery);
        if (life && v < 0)
            return ENOENT;
        answer_int(a.out, v);
        return 0;
    }
    if (ps.has_mains) {
        answer_int(a.out, ps.mains_online ? 1 : 0);
        return 0;
    }
    if (ps.battery.empty())
        return ENOENT;
    answer_int(a.out, read_word(ps.battery + "/status") == "Discharging" ? 0 : 1);
    return 0;
}

int live_cpu_temperature(const char *name, answer &a) {
    int cpu;
    std::string_view leaf;
    if (!split_cpu_name(name, cpu, leaf))
        return ENOENT;
    bool tjmax = leaf == "coretemp.tjmax";
    if (!tjmax && leaf != "temperature")
        return ENOENT;
    std::vector<int> map = cpu_map();
    if (static_cast<std::size_t>(cpu) >= map.size() || map[static_cast<std::size_t>(cpu)] < 0)
        return ENOENT;
    sensor s;
    if (!find_sensor(map[static_cast<std::size_t>(cpu)], s))
        return ENOENT;
    const std::string &file = tjmax ? s.crit : s.input;
    if (file.empty())
        return ENOENT;
    std::string text;
    if (!read_file(file.c_str(), text, 64))
        return ENOENT;
    long long milli = to_ll(text, 1LL << 40);
    if (milli == 1LL << 40)
        return EIO;  // a sensor that answers nonsense
    answer_int(a.out, tenths_kelvin(milli));
    return 0;
}

}  // namespace standin
