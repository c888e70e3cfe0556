#include "export/manifest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>

#include "files/file_descriptor.h"

namespace rowpress {

namespace {

using Json = nlohmann::ordered_json;

std::string hex(const unsigned char* bytes, unsigned int size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

struct DigestFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

Json columnsOf(const SheetAccount& sheet) {
  Json columns = Json::array();
  for (const ColumnInfo& column : sheet.columns) {
    columns.push_back(
        {{"name", column.name}, {"sqlType", column.sqlType}, {"size", column.declaredSize}});
  }
  return columns;
}

Json changedOf(const SheetAccount& sheet) {
  Json changed = Json::array();
  for (const ValueChange& change : sheet.changed) {
    changed.push_back(
        {{"column", change.column}, {"rule", ruleName(change.rule)}, {"count", change.count}});
  }
  return changed;
}

}  // namespace

std::string manifestPathFor(const std::string& path) { return path + ".manifest.json"; }

std::string sha256Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1) return {};
  return hex(digest, size);
}

std::optional<ManifestFile> digestFile(const std::string& path, std::string& error) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::unique_ptr<EVP_MD_CTX, DigestFree> context(EVP_MD_CTX_new());
  bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
  ManifestFile file{path, 0, {}};
  std::vector<char> buffer(1 << 16);
  while (ok) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = std::strerror(errno);
      ok = false;
      break;
    }
    if (got == 0) break;
    file.bytes += got;
    ok = EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got)) == 1;
  }
  fd.reset();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (ok) ok = EVP_DigestFinal_ex(context.get(), digest, &size) == 1;
  if (!ok) {
    if (error.empty()) error = "the SHA-256 digest could not be computed";
    return std::nullopt;
  }
  file.sha256 = hex(digest, size);
  return file;
}

std::string isoUtc(std::chrono::system_clock::time_point time) {
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];  // room for any int the format could be given
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis % 1000));
  return text;
}

namespace {

// The job's parameters: their names and values where the job asks for the values, else their
// names alone.
Json parametersOf(const JobSettings& job) {
  if (!job.manifestValues) {
    Json names = Json::array();
    for (const JobParameter& parameter : job.parameters) names.push_back(parameter.name);
    return names;
  }
  Json parameters = Json::object();
  for (const JobParameter& parameter : job.parameters) parameters[parameter.name] = parameter.value;
  return parameters;
}

}  // namespace

std::string manifestText(const ManifestRun& run) {
  const JobSettings& job = *run.job;
  const std::vector<SheetAccount>& sheets = *run.sheets;
  const bool report = !job.sheets.empty();
  Json manifest;
  manifest["version"] = ROWPRESS_VERSION;
  manifest["dataSource"] = job.dataSource;
  manifest["sqlSha256"] = sha256Hex(job.sql);
  manifest["started"] = isoUtc(run.started);
  manifest["finished"] = isoUtc(run.finished);
  manifest["rows"] = run.rows;
  if (run.files.size() == 1) {
    manifest["bytes"] = run.files.front().bytes;
    manifest["sha256"] = run.files.front().sha256;
  } else {
    Json files = Json::array();
    for (const ManifestFile& file : run.files) {
      files.push_back({{"path", file.path}, {"bytes", file.bytes}, {"sha256", file.sha256}});
    }
    manifest["files"] = std::move(files);
  }
  // What a reader needs to parse a CSV or TSV file.
  if (const OutputType type = outputTypeOf(job);
      type == OutputType::Csv || type == OutputType::Tsv) {
    std::string separator = type == OutputType::Tsv ? "\t" : ",";
    if (type == OutputType::Csv && job.quoteFields && !job.separator.empty()) {
      separator = job.separator;
    }
    manifest["separator"] = separator;
    manifest["decimalComma"] = job.decimalComma;
    manifest["encoding"] = job.encoding.empty() ? std::string("UTF-8") : job.encoding;
  }
  if (!run.timeZone.empty()) manifest["timeZone"] = run.timeZone;
  if (!report && !sheets.empty()) {
    manifest["columns"] = columnsOf(sheets.front());
    manifest["changed"] = changedOf(sheets.front());
  }
  if (report) {
    Json shown = Json::array();
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      const SheetAccount& sheet = sheets[i];
      const std::string& sql = i < job.sheets.size() ? job.sheets[i].sql : job.sql;
      shown.push_back({{"name", sheet.sheet},
                       {"sqlSha256", sha256Hex(sql)},
                       {"rows", sheet.rows},
                       {"columns", columnsOf(sheet)},
                       {"changed", changedOf(sheet)}});
    }
    manifest["sheets"] = std::move(shown);
  }
  if (!job.parameters.empty()) manifest["parameters"] = parametersOf(job);
  return manifest.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace rowpress
