#ifndef BENCH_PEER_FIGURES_H
#define BENCH_PEER_FIGURES_H
// What the benchmarks with a peer share: the peer run as a child process of the same program
// (its own heap, its own GTK and display, nothing of ours loaded), the figures it hands back,
// and a figure printed with the digits its verdict needs.
//
// The child prints one "figure NAME VALUE" line per figure on its standard output; any other
// line it prints is passed on as it is.

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

// A figure for the child to hand back.
inline void PrintPeerFigure(const char* name, double value) {
    std::printf("figure %s %.9g\n", name, value);
}

struct PeerRun {
    bool exitedOk = false;
    std::map<std::string, double> figures;
    // The figure called name, or -1 when the child did not give it.
    double Figure(const std::string& name) const {
        auto it = figures.find(name);
        return it == figures.end() ? -1 : it->second;
    }
};

// Runs this program again with `args` and waits for it. GLib closes every descriptor but the
// standard ones in the child; its standard error is this process's.
inline PeerRun RunPeer(const std::vector<std::string>& args) {
    PeerRun run;
    gchar* self = g_file_read_link("/proc/self/exe", nullptr);
    if (self == nullptr) {
        std::fprintf(stderr, "cannot find this program's file\n");
        return run;
    }
    std::vector<gchar*> argv{self};
    for (const std::string& arg : args) argv.push_back(const_cast<gchar*>(arg.c_str()));
    argv.push_back(nullptr);
    gchar* output = nullptr;
    gint status = 0;
    GError* error = nullptr;
    const bool spawned = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr,
                                      nullptr, &output, nullptr, &status, &error);
    g_free(self);
    if (!spawned) {
        std::fprintf(stderr, "cannot run the peer: %s\n", error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return run;
    }
    run.exitedOk = g_spawn_check_wait_status(status, nullptr);
    std::istringstream lines(output != nullptr ? output : "");
    g_free(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string word, name;
        double value = 0;
        if (fields >> word >> name >> value && word == "figure") {
            run.figures[name] = value;
        } else {
            std::printf("%s\n", line.c_str());
        }
    }
    std::fflush(stdout);
    return run;
}

// value printed with at least `digits` decimals, and more when fewer would put the printed
// number on the other side of goal than value is.
inline std::string Fixed(double value, double goal, int digits = 3) {
    const bool below = value < goal;
    char text[64];
    for (;; ++digits) {
        std::snprintf(text, sizeof text, "%.*f", digits, value);
        if ((std::strtod(text, nullptr) < goal) == below || digits >= 12) break;
    }
    return text;
}

// The ratio of a figure to its peer's, or "-" when the peer's is not above zero.
inline std::string Ratio(double value, double peer) {
    if (!(peer > 0) || value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value / peer);
    return text;
}

}  // namespace bench

#endif
