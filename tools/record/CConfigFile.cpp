#include "tools/record/CConfigFile.h"

#include <toml++/toml.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <set>

#include "tools/record/CCommandLine.h"
#include "tools/record/CPasswordReader.h"

namespace kestrel::record {

namespace {

// Keys that only a [[camera]] table or only the top may hold.
const std::set<std::string> kCameraOnly = {"name", "address"};
// The disk limits hold for the whole recording, so they stand at the top.
const std::set<std::string> kTopOnly = {"camera", "library", "insecure", "max_disk", "keep_days"};

struct Context {
    std::string path;
    std::string error;
    bool Fail(const toml::source_region& where, const std::string& key, const std::string& what) {
        error = path + ":" + std::to_string(where.begin.line) + ": " + key + ": " + what;
        return false;
    }
};

bool Whole(Context& c, const toml::key& key, const toml::node& node, int64_t min, int64_t max, int64_t& value) {
    const auto v = node.value_exact<int64_t>();
    if (!v || *v < min || *v > max) {
        return c.Fail(key.source(), std::string(key.str()),
                      "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    }
    value = *v;
    return true;
}

bool Text(Context& c, const toml::key& key, const toml::node& node, std::string& value) {
    const auto v = node.value_exact<std::string>();
    if (!v || v->empty()) return c.Fail(key.source(), std::string(key.str()), "expected a text in quotes");
    value = *v;
    return true;
}

bool Flag(Context& c, const toml::key& key, const toml::node& node, bool& value) {
    const auto v = node.value_exact<bool>();
    if (!v) return c.Fail(key.source(), std::string(key.str()), "expected true or false");
    value = *v;
    return true;
}

// One key of the defaults or of a camera. camera is null for the defaults.
bool Apply(Context& c, const toml::key& key, const toml::node& node, RecordOptions& o, CameraSetup* camera,
           std::string& folder) {
    const std::string k(key.str());
    std::string text;
    int64_t number = 0;
    std::string error;
    auto refuse = [&](const std::string& what) { return c.Fail(key.source(), k, what); };
    if (camera == nullptr ? kCameraOnly.count(k) != 0 : kTopOnly.count(k) != 0) {
        return refuse(camera == nullptr ? "belongs in a [[camera]] table" : "belongs at the top of the file");
    }
    if (k == "name") {
        if (!Text(c, key, node, text)) return false;
        for (char ch : text) {
            if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '-' && ch != '_') {
                return refuse("\"" + text + "\": letters, digits, - and _ only (it names a folder)");
            }
        }
        camera->name = text;
    } else if (k == "address") {
        if (!Text(c, key, node, text)) return false;
        CameraTarget target;
        target.port = camera->target.port;
        if (!CCommandLine::ParseCamera(text, target, error)) return refuse(error);
        camera->target.address = target.address;
        if (text.find(':') != std::string::npos) camera->target.port = target.port;
    } else if (k == "http_port") {
        if (!Whole(c, key, node, 1, 65535, number)) return false;
        if (camera != nullptr) camera->target.port = static_cast<uint16_t>(number);
        o.httpPort = static_cast<uint16_t>(number);
    } else if (k == "https") {
        if (!Flag(c, key, node, o.https)) return false;
    } else if (k == "insecure") {
        if (!Flag(c, key, node, o.insecure)) return false;
    } else if (k == "model") {
        if (!Text(c, key, node, o.model)) return false;
        if (o.model.find('/') != std::string::npos) return refuse("expected a model name such as SNC-RZ50P");
    } else if (k == "user") {
        if (!Text(c, key, node, o.user)) return false;
    } else if (k == "password_file") {
        if (!Text(c, key, node, o.passwordFile)) return false;
    } else if (k == "interface") {
        if (!Text(c, key, node, text)) return false;
        if (!CCommandLine::ParseInterface(text, o.api, error)) return refuse(error);
    } else if (k == "resolution") {
        if (!Text(c, key, node, text)) return false;
        if (!CCommandLine::ParseResolution(text, o.resolution, error)) return refuse(error);
    } else if (k == "fps") {
        const auto v = node.value<double>();
        if (!v || !(*v >= 0.017 && *v <= 1000.0)) return refuse("expected pictures per second from 0.017 to 1000");
        o.intervalMs = std::max<uint32_t>(1, static_cast<uint32_t>(std::floor(1000.0 / *v)));
    } else if (k == "interval_ms") {
        if (!Whole(c, key, node, 1, 60000, number)) return false;
        o.intervalMs = static_cast<uint32_t>(number);
    } else if (k == "quality") {
        if (!Whole(c, key, node, 0, 100, number)) return false;
        o.quality = static_cast<int32_t>(number);
    } else if (k == "standard") {
        if (!Text(c, key, node, text)) return false;
        if (text != "pal" && text != "ntsc") return refuse("expected \"pal\" or \"ntsc\"");
        o.standard = text == "ntsc" ? 1 : 0;
    } else if (k == "inputs") {
        if (!Flag(c, key, node, o.showInputs)) return false;
    } else if (k == "outputs") {
        const auto* list = node.as_array();
        if (list == nullptr) return refuse("expected a list such as [\"1=on\"]");
        o.outputs.clear();
        for (const auto& item : *list) {
            const auto v = item.value_exact<std::string>();
            OutputRequest request;
            if (!v || !CCommandLine::ParseOutput(*v, request, error)) {
                return refuse(v ? error : "expected texts such as \"1=on\"");
            }
            o.outputs.push_back(request);
        }
    } else if (k == "output") {
        if (!Text(c, key, node, folder)) return false;
    } else if (k == "format") {
        if (!Text(c, key, node, text)) return false;
        if (!CCommandLine::ParseFormat(text, o.video, o.writeJpeg)) {
            return refuse("\"" + text + "\": expected mkv, avi, jpeg, mkv,jpeg or avi,jpeg");
        }
    } else if (k == "segment") {
        if (!Whole(c, key, node, 1, 24 * 3600, number)) return false;
        o.segmentS = static_cast<uint32_t>(number);
    } else if (k == "max_disk") {
        if (!Text(c, key, node, text)) return false;
        if (!CCommandLine::ParseSize(text, o.maxDiskBytes)) return refuse("expected a size such as \"500M\" or \"2G\"");
    } else if (k == "keep_days") {
        const auto v = node.value<double>();
        if (!v || !(*v > 0 && *v <= 3650)) return refuse("expected days from 0 to 3650");
        o.keepDays = *v;
    } else if (k == "first_picture_timeout") {
        if (!Whole(c, key, node, 1, 3600, number)) return false;
        o.firstPictureTimeoutS = static_cast<uint32_t>(number);
    } else if (k == "retry_max") {
        if (!Whole(c, key, node, 1, 3600, number)) return false;
        o.retryMaxS = static_cast<uint32_t>(number);
    } else if (k == "library") {
        if (!Text(c, key, node, o.library)) return false;
    } else {
        return refuse("unknown key");
    }
    return true;
}

}  // namespace

bool CConfigFile::Load(const std::string& path, const RecordOptions& base, std::vector<CameraSetup>& cameras) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        m_error = "cannot read the configuration " + path;
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(text, path, base, cameras);
}

bool CConfigFile::Parse(const std::string& text, const std::string& path, const RecordOptions& base,
                        std::vector<CameraSetup>& cameras) {
    Context c{path, {}};
    cameras.clear();
    toml::table root;
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        m_error = path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
        return false;
    }
    RecordOptions defaults = base;
    defaults.cameras.clear();
    defaults.simulated = 0;
    std::string root_folder;
    // Defaults first, wherever they stand in the file.
    for (const auto& [key, node] : root) {
        if (key.str() == "camera") continue;
        if (!Apply(c, key, node, defaults, nullptr, root_folder)) return m_error = c.error, false;
    }
    m_outputRoot = root_folder.empty() ? base.outputDir : root_folder;
    std::set<std::string> names;
    if (const toml::node* list = root.get("camera")) {
        const auto* tables = list->as_array();
        if (tables == nullptr || !tables->is_array_of_tables()) {
            m_error = path + ":" + std::to_string(list->source().begin.line) + ": camera: expected [[camera]] tables";
            return false;
        }
        for (const auto& item : *tables) {
            const auto& table = *item.as_table();
            CameraSetup setup;
            setup.options = defaults;
            setup.name = "camera" + std::to_string(cameras.size() + 1);
            setup.target.port = defaults.httpPort != 0 ? defaults.httpPort : defaults.https ? 443 : 80;
            std::string folder;
            // The port first, so that an address with its own port wins.
            if (const auto* port = table.get("http_port")) {
                const auto v = port->value_exact<int64_t>();
                if (v && *v >= 1 && *v <= 65535) setup.target.port = static_cast<uint16_t>(*v);
            } else if (const auto* https = table.get("https"); https != nullptr && https->value_or(false)) {
                setup.target.port = 443;
            }
            for (const auto& [key, node] : table) {
                if (!Apply(c, key, node, setup.options, &setup, folder)) return m_error = c.error, false;
            }
            const auto line = std::to_string(table.source().begin.line);
            if (setup.target.address.empty()) {
                m_error = path + ":" + line + ": camera: address missing";
                return false;
            }
            if (!names.insert(setup.name).second) {
                m_error = path + ":" + line + ": name: \"" + setup.name + "\" is used twice";
                return false;
            }
            if (!setup.options.user.empty() && setup.options.passwordFile.empty()) {
                m_error = path + ":" + line + ": user: " + setup.name + " has a user but no password_file";
                return false;
            }
            if (!setup.options.passwordFile.empty()) {
                std::string error;
                if (!CPasswordReader::FromFile(setup.options.passwordFile, setup.options.password, error)) {
                    m_error = path + ":" + line + ": password_file: " + error;
                    return false;
                }
            }
            setup.folder = folder;
            cameras.push_back(std::move(setup));
        }
    }
    if (cameras.empty()) {
        m_error = path + ":1: camera: no [[camera]] table";
        return false;
    }
    return true;
}

}  // namespace kestrel::record
