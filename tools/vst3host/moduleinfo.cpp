// `vst3host moduleinfo`: writes the bundle's moduleinfo.json from its
// factory, so that hosts that read it can scan without loading the library.
#include "commands.h"
#include "bundle.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace Steinberg;

namespace vst3host {

namespace {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out + "\"";
}

// "Fx|Delay" -> ["Fx", "Delay"]
std::string subCategories(const char* text) {
    std::string out = "[";
    std::stringstream in(text);
    std::string item;
    bool first = true;
    while (std::getline(in, item, '|')) {
        if (item.empty()) continue;
        out += (first ? "" : ", ") + jsonString(item);
        first = false;
    }
    return out + "]";
}

}  // namespace

int moduleInfoCommand(const std::string& path, const std::string& output) {
    Bundle bundle;
    if (!loadBundle(bundle, path)) return 1;
    const PFactoryInfo info = bundle.factoryInfo();

    std::filesystem::path name = std::filesystem::path(path).lexically_normal();
    if (name.filename().empty()) name = name.parent_path();
    std::ostringstream json;
    json << "{\n  \"Name\": " << jsonString(name.stem().string()) << ",\n";
    std::string version;
    json << "  \"Factory Info\": {\n"
         << "    \"Vendor\": " << jsonString(info.vendor) << ",\n"
         << "    \"URL\": " << jsonString(info.url) << ",\n"
         << "    \"E-Mail\": " << jsonString(info.email) << ",\n"
         << "    \"Flags\": {\n"
         << "      \"Unicode\": " << ((info.flags & PFactoryInfo::kUnicode) ? "true" : "false") << ",\n"
         << "      \"Classes Discardable\": " << ((info.flags & PFactoryInfo::kClassesDiscardable) ? "true" : "false")
         << ",\n"
         << "      \"Component Non Discardable\": "
         << ((info.flags & PFactoryInfo::kComponentNonDiscardable) ? "true" : "false") << "\n"
         << "    }\n  },\n"
         << "  \"Compatibility\": [],\n  \"Classes\": [";
    const std::vector<PClassInfo2> classes = bundle.classes();
    for (size_t i = 0; i < classes.size(); ++i) {
        const PClassInfo2& c = classes[i];
        if (version.empty()) version = c.version;
        char id[33];
        FUID::fromTUID(c.cid).toString(id);
        json << (i ? ",\n" : "\n") << "    {\n"
             << "      \"CID\": " << jsonString(id) << ",\n"
             << "      \"Category\": " << jsonString(c.category) << ",\n"
             << "      \"Name\": " << jsonString(c.name) << ",\n"
             << "      \"Vendor\": " << jsonString(c.vendor) << ",\n"
             << "      \"Version\": " << jsonString(c.version) << ",\n"
             << "      \"SDKVersion\": " << jsonString(c.sdkVersion) << ",\n"
             << "      \"Sub Categories\": " << subCategories(c.subCategories) << ",\n"
             << "      \"Class Flags\": " << c.classFlags << ",\n"
             << "      \"Cardinality\": " << c.cardinality << ",\n"
             << "      \"Snapshots\": []\n    }";
    }
    json << "\n  ],\n  \"Version\": " << jsonString(version) << "\n}\n";

    if (output.empty()) {
        std::fputs(json.str().c_str(), stdout);
        return 0;
    }
    std::ofstream out(output);
    out << json.str();
    if (!out) {
        std::fprintf(stderr, "vst3host: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}

}  // namespace vst3host
