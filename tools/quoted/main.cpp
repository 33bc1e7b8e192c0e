// tallow-quoted: a small local delayed-quote service for tallow-marquee.
// It answers the GetQuote request of the quote protocol from a CSV table whose
// prices take a deterministic ten-minute random walk (sample mode), or with
// delayed quotes fetched from a market-data provider through a cache.

#include "gateway.h"
#include "httpfetch.h"
#include "platform.h"
#include "quotebook.h"
#include "service.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

// CMake defines QUOTE_SERVICE_TOKEN (the default LicenseKey) and TALLOW_VERSION.

namespace quoted {
extern const std::string_view kBuiltInQuotes; // quotes.csv, compiled in
}

namespace {

using namespace quoted;

constexpr std::size_t kMaxDataFileSize = 16 << 20;
constexpr std::size_t kMaxKeyFileSize = 4096;
constexpr long kProviderTimeoutMs = 10000;
constexpr const char *kKeyVariable = "TALLOW_QUOTED_API_KEY";
constexpr const char *kSampleNotice
        = "tallow-quoted: sample mode: the prices served are simulated, not real quotes";

// "@PROVIDERS@" stands for the names of the providers.
const char *const kUsageText
        = "Usage: tallow-quoted [OPTION]...\n"
          "\n"
          "Serves delayed stock quotes for tallow-marquee over HTTP: simulated prices\n"
          "(sample mode), or real delayed quotes fetched from a market-data provider.\n"
          "\n"
          "  --listen ADDR:PORT    address to listen on (default 127.0.0.1:8780; IPv6 as\n"
          "                        [::1]:8780); port 0 picks a free port\n"
          "  --token TOKEN         LicenseKey that requests must carry "
          "(default " QUOTE_SERVICE_TOKEN ")\n"
          "  --source NAME         where quotes come from: sample (the default: simulated\n"
          "                        prices), @PROVIDERS@\n"
          "  --data FILE           sample mode: serve FILE (CSV: symbol,previous_close[,last])\n"
          "                        instead of the built-in table; changes are picked up\n"
          "                        while running\n"
          "  --api-key-file FILE   provider mode: the provider's API key is the first line\n"
          "                        of FILE; without this option it is taken from the\n"
          "                        environment variable TALLOW_QUOTED_API_KEY\n"
          "  --source-url URL      provider mode: the provider's base URL (default: its\n"
          "                        public HTTPS address)\n"
          "  --cache SECONDS       provider mode: ask the provider at most once per symbol\n"
          "                        in this many seconds (default 60)\n"
          "  --max-stale SECONDS   provider mode: when the provider fails, serve a quote up\n"
          "                        to this old (default 900), else answer 503\n"
          "  -h, --help            show this help and exit\n"
          "  --version             show the version and exit\n"
          "\n"
          "Exit status: 0 when stopped by SIGINT or SIGTERM, 1 when the address cannot be\n"
          "bound or the data file is unusable at start, 2 for bad arguments or a missing\n"
          "API key.\n";

// "finnhub, alphavantage or twelvedata"
std::string providerList()
{
    std::string list;
    const auto &rows = providers();
    for (std::size_t i = 0; i < rows.size(); ++i)
        list += (i == 0 ? "" : i + 1 == rows.size() ? " or " : ", ") + std::string(rows[i].name);
    return list;
}

std::string usage()
{
    std::string text = kUsageText;
    const std::string placeholder = "@PROVIDERS@";
    return text.replace(text.find(placeholder), placeholder.size(), providerList());
}

// Writes one line to standard error, prefixed with the UTC time. A single fwrite
// keeps lines from concurrent requests whole.
void logLine(const std::string &message)
{
    const std::string line = utcText(std::time(nullptr), "%Y-%m-%dT%H:%M:%SZ ") + message + '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// `text` read as a table, each of its problems logged after `where`; null when unusable.
std::shared_ptr<const Table> parseLogged(std::string_view text, const std::string &where)
{
    std::vector<std::string> problems;
    auto table = parseTable(text, problems);
    for (const auto &problem : problems)
        logLine(where + problem);
    return table ? std::make_shared<const Table>(std::move(*table)) : nullptr;
}

// The table being served. With a data file, every request checks the file's
// identity, size and modification time and reloads it when any changed; a file
// that is missing or unusable leaves the last good table in place.
class QuoteSource
{
public:
    explicit QuoteSource(std::string path) : mPath(std::move(path)) { }

    bool load()
    {
        if (mPath.empty())
            mTable = parseLogged(kBuiltInQuotes, "built-in table: ");
        return current() != nullptr;
    }

    std::shared_ptr<const Table> current()
    {
        if (mPath.empty())
            return mTable;
        std::lock_guard lock(mMutex);
        std::string error;
        const auto stamp = fileStamp(mPath, error);
        if (!stamp) {
            if (!mMissing)
                logLine("data file " + mPath + ": " + error + "; keeping the last good data");
            mMissing = true;
            return mTable;
        }
        mMissing = false;
        if (stamp == mSeen)
            return mTable;
        mSeen = stamp;

        // The stamp is only a hint: the file may have been swapped since.
        std::string text;
        const std::string failure = readRegularFile(mPath, kMaxDataFileSize, text);
        auto table = failure.empty() ? parseLogged(text, "data file " + mPath + ": ") : nullptr;
        if (!table) {
            logLine("data file " + mPath + " is unusable"
                    + (failure.empty() ? std::string() : " (" + failure + ")")
                    + "; keeping the last good data");
            return mTable;
        }
        logLine("loaded " + std::to_string(table->bySymbol.size()) + " symbols from " + mPath);
        mTable = std::move(table);
        return mTable;
    }

private:
    std::string mPath;
    std::mutex mMutex;
    std::shared_ptr<const Table> mTable;
    std::optional<FileStamp> mSeen;
    bool mMissing = false;
};

struct Options
{
    std::string host = "127.0.0.1";
    int port = 8780;
    std::string token = QUOTE_SERVICE_TOKEN;
    std::string dataFile;
    Provider provider = nullptr; // none: sample mode
    std::string keyFile, sourceUrl;
    std::chrono::seconds cache{60}, maxStale{900};
};

// Parses "ADDR:PORT" or "[IPv6]:PORT".
bool parseListen(std::string_view value, Options &options)
{
    const auto colon = value.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || value.size() - colon > 6)
        return false;
    std::string host(value.substr(0, colon));
    if (host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const auto port = parseNumber<unsigned>(value.substr(colon + 1));
    if (!port || host.empty() || *port > 65535)
        return false;
    options.host = host;
    options.port = int(*port);
    return true;
}

int usageError(const std::string &message)
{
    std::fprintf(stderr, "tallow-quoted: %s\n%s", message.c_str(), usage().c_str());
    return 2;
}

bool parseSeconds(const std::string &value, std::chrono::seconds &out)
{
    const auto seconds = parseNumber<long long>(value);
    if (!seconds || *seconds < 0 || *seconds > 365LL * 86400)
        return false;
    out = std::chrono::seconds(*seconds);
    return true;
}

// Returns the exit code to stop with, or -1 to go on.
int parseArguments(const std::vector<std::string> &argv, Options &options)
{
    const auto argc = int(argv.size());
    static const std::set<std::string_view> withValue
            = {"--listen",     "--token", "--data",      "--source",
               "--source-url", "--cache", "--max-stale", "--api-key-file"};
    std::set<std::string_view> seen;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage().c_str(), stdout);
            return 0;
        }
        if (arg == "--version") {
            std::fputs("tallow-quoted " TALLOW_VERSION "\n", stdout);
            return 0;
        }
        if (!withValue.count(arg) || i + 1 == argc)
            return usageError("unknown option or missing value: " + std::string(arg));
        if (!seen.insert(arg).second)
            return usageError("option given twice: " + std::string(arg));
        const std::string &value = argv[++i];
        if (arg == "--listen" && !parseListen(value, options))
            return usageError("--listen wants ADDR:PORT, got " + value);
        if (arg == "--token") {
            if (value.empty() || !isPrintableUtf8(value))
                return usageError("--token wants non-empty printable text");
            options.token = value;
        }
        if (arg == "--data")
            options.dataFile = value;
        if (arg == "--source" && value != "sample" && !(options.provider = providerNamed(value)))
            return usageError("--source wants sample, " + providerList() + ", got " + value);
        if (arg == "--api-key-file")
            options.keyFile = value;
        if (arg == "--source-url") {
            if ((value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0)
                || !isPrintableUtf8(value) || value.find(' ') != std::string::npos)
                return usageError("--source-url wants an http:// or https:// URL");
            options.sourceUrl = value;
        }
        if (arg == "--cache" && !parseSeconds(value, options.cache))
            return usageError("--cache wants a number of seconds, got " + value);
        if (arg == "--max-stale" && !parseSeconds(value, options.maxStale))
            return usageError("--max-stale wants a number of seconds, got " + value);
    }
    if (options.provider && seen.count("--data"))
        return usageError("--data serves sample mode only; a provider source cannot take it");
    for (const char *providerOption : {"--api-key-file", "--source-url", "--cache", "--max-stale"})
        if (!options.provider && seen.count(providerOption))
            return usageError(std::string(providerOption) + " needs a provider --source");
    return -1;
}

// The provider's key: the first line of the key file, trimmed, or the
// environment variable. Returns an empty key after printing why there is none.
std::string loadApiKey(const Options &options)
{
    std::string text;
    if (!options.keyFile.empty()) {
        const std::string failure = readRegularFile(options.keyFile, kMaxKeyFileSize, text);
        if (!failure.empty()) {
            std::fprintf(stderr, "tallow-quoted: cannot read the API key file %s: %s\n",
                         options.keyFile.c_str(), failure.c_str());
            return {};
        }
        text = text.substr(0, text.find('\n'));
        if (const std::string exposure = exposedToOthers(options.keyFile); !exposure.empty())
            std::fprintf(stderr, "tallow-quoted: warning: the API key file %s %s\n",
                         options.keyFile.c_str(), exposure.c_str());
    } else if (const char *variable = std::getenv(kKeyVariable)) {
        text = variable;
    }
    const std::string key(trimBlanks(text, " \t\r"));
    const std::string where = options.keyFile.empty()
            ? std::string("the environment variable ") + kKeyVariable
            : "the API key file " + options.keyFile;
    if (key.empty())
        std::fprintf(stderr,
                     "tallow-quoted: --source %s needs an API key: %s is missing or empty "
                     "(give --api-key-file FILE or set %s)\n",
                     options.provider->name, where.c_str(), kKeyVariable);
    else if (!isPrintableUtf8(key))
        std::fprintf(stderr, "tallow-quoted: %s holds control characters\n", where.c_str());
    return isPrintableUtf8(key) ? key : std::string();
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (const int code = parseArguments(utf8Arguments(argc, argv), options); code >= 0)
        return code;

    // Before any thread starts and before the first line is logged.
    prepareToServe();
    startFetching();
    QuoteSource source(options.dataFile);
    std::unique_ptr<Gateway> gateway;
    if (options.provider) {
        Gateway::Settings settings{options.provider,
                                   options.sourceUrl.empty() ? options.provider->defaultUrl
                                                             : options.sourceUrl,
                                   loadApiKey(options), options.cache, options.maxStale};
        if (settings.key.empty())
            return 2;
        protectMemory();
        logLine(std::string("tallow-quoted: serving delayed quotes from ") + options.provider->name
                + " at " + redact(settings.baseUrl, settings.key, options.provider) + " (cache "
                + std::to_string(settings.cache.count()) + " s, stale quotes up to "
                + std::to_string(settings.maxStale.count()) + " s)");
        gateway = std::make_unique<Gateway>(
                std::move(settings),
                [](const std::string &url) { return fetchOverHttp(url, kProviderTimeoutMs); },
                [] { return std::chrono::steady_clock::now(); }, logLine);
    } else {
        if (!source.load()) {
            std::fprintf(stderr, "tallow-quoted: no usable quote table %s\n",
                         options.dataFile.c_str());
            return 1;
        }
        logLine(kSampleNotice);
    }

    Server server({options.token, [&source] { return source.current(); }, gateway.get(), logLine});
    std::string failure;
    if (!server.listen(options.host, options.port, failure)) {
        std::fprintf(stderr, "tallow-quoted: cannot listen on %s:%d: %s\n", options.host.c_str(),
                     options.port, failure.c_str());
        return 1;
    }
    const bool v6 = options.host.find(':') != std::string::npos;
    std::fprintf(stderr, "listening on %s%s%s:%d\n", v6 ? "[" : "", options.host.c_str(),
                 v6 ? "]" : "", server.port());

    serving();
    std::thread stopper([&] {
        waitForStopRequest();
        server.stop();
    });
    server.run();
    stopper.join();
    return 0;
}
