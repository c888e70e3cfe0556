#include "export/output_naming.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include "export/column_type_report.h"
#include "export/manifest.h"
#include "export/stop_request.h"
#include "files/atomic_file.h"
#include "files/directory_entries.h"
#include "files/file_descriptor.h"

namespace rowpress {

namespace {

// The variable that decides the default directory, with its value: ROWPRESS_HOME when set
// and not empty, else HOME when set and not empty; nothing when neither is.
std::optional<std::pair<const char*, std::string>> homeVariable() {
  for (const char* name : {"ROWPRESS_HOME", "HOME"}) {
    const char* value = std::getenv(name);
    if (value && *value) return std::pair<const char*, std::string>(name, value);
  }
  return std::nullopt;
}

}  // namespace

ExpandedName expandOutputName(std::string_view name, const std::vector<JobParameter>& parameters,
                              const std::tm& local) {
  ExpandedName expanded;
  std::string& out = expanded.name;
  char stamp[48];
  while (!name.empty()) {
    const std::size_t open = name.find('{');
    const std::size_t close = open == std::string_view::npos ? open : name.find('}', open);
    if (close == std::string_view::npos) break;
    out.append(name.substr(0, open));
    const std::string_view key = name.substr(open + 1, close - open - 1);
    if (key == "date") {
      std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                    local.tm_mday);
      out += stamp;
    } else if (key == "time") {
      std::snprintf(stamp, sizeof stamp, "%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
      out += stamp;
    } else if (auto found = std::find_if(parameters.begin(), parameters.end(),
                                         [&](const JobParameter& p) { return p.name == key; });
               found != parameters.end()) {
      std::string value = found->value;
      for (char& c : value) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!kept) c = '_';
      }
      if (value.empty() || value == "." || value == "..") {
        expanded.refusal = "The value of parameter " + found->name + " makes \"" + value +
                           "\" in the output file name, which names no file of its own.";
        return expanded;
      }
      out += value;
    } else {
      // Not a placeholder: the opening brace stays, and the search goes on after it.
      out += '{';
      name.remove_prefix(open + 1);
      continue;
    }
    name.remove_prefix(close + 1);
  }
  out.append(name);
  return expanded;
}

std::string defaultDirectory() {
  if (const auto home = homeVariable()) {
    // A relative value would make the directory depend on where the run was started.
    if (home->second[0] != '/') return std::string();
    return home->first == std::string_view("HOME") ? home->second + "/rowpress" : home->second;
  }
  // Without HOME (cron, a service), the home directory of the user's password entry: never
  // the working directory, which changes from one run to the next.
  const passwd* entry = ::getpwuid(::getuid());
  if (entry && entry->pw_dir && entry->pw_dir[0] == '/')
    return std::string(entry->pw_dir) + "/rowpress";
  return std::string();
}

std::string noDefaultDirectoryReason() {
  const auto home = homeVariable();
  if (!home || home->second[0] == '/') return kNoDefaultDirectory;
  return std::string("There is no default directory: ") + home->first + " (" + home->second +
         ") is not an absolute path";
}

bool needsDefaultName(const JobSettings& job, OutputType type) {
  return job.outFileName.empty() || (type == OutputType::Xml && job.excel2007);
}

std::string SameFile::reason() const {
  return "it is the same file as " + other + ", another file of this run";
}

std::optional<SameFile> sameFileAmong(
    const std::vector<std::pair<std::string, FileTarget>>& files) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    for (std::size_t k = 0; k < i; ++k) {
      if (sameTarget(files[k].second, files[i].second)) {
        return SameFile{files[i].first, files[k].first};
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> runFilesInTheWay(const JobSettings& job, OutputType type) {
  std::vector<std::string> written;
  if (!needsDefaultName(job, type) && writesFilePerSheet(job, type)) {
    for (const JobSheet& sheet : job.sheets) {
      written.push_back(sheetFileName(job.outFileName, sheet.name));
    }
  } else if (!needsDefaultName(job, type)) {
    written.push_back(job.outFileName);
  }
  // The manifest goes beside the output, named after the job's output name.
  if (job.manifest && !needsDefaultName(job, type)) {
    written.push_back(manifestPathFor(job.outFileName));
  }
  if (const std::string directory = defaultDirectory(); !directory.empty()) {
    written.push_back(directory + "/" + kColumnTypeReportName);
  }
  std::vector<std::pair<std::string, FileTarget>> targets;
  for (const std::string& path : written) {
    if (std::optional<FileTarget> target = fileTargetOf(path)) targets.emplace_back(path, *target);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) continue;
    const FileIdentity identity{st.st_dev, st.st_ino};
    for (const FileIdentity& read : job.readFrom) {
      if (read == identity) return "unable to create: " + path + " (the job was read from it)";
    }
  }
  if (std::optional<SameFile> same = sameFileAmong(targets)) {
    return "unable to create: " + same->path + " (" + same->reason() + ")";
  }
  return std::nullopt;
}

bool createDefaultDirectory(const std::string& directory) {
  std::string partial;
  std::size_t from = 0;
  while (from <= directory.size()) {
    auto slash = directory.find('/', from);
    partial = directory.substr(0, slash);
    if (!partial.empty() && ::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
    from = slash + 1;
  }
  struct stat st;
  return ::stat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char* outputTypeName(OutputType type) {
  switch (type) {
    case OutputType::Csv:
      return "CSV";
    case OutputType::Tsv:
      return "TSV";
    case OutputType::Html:
      return "HTML";
    case OutputType::Xlsx:
      return "XLSX";
    case OutputType::Xml:
      break;
  }
  return "XML";
}

std::optional<std::string> otherTypeNamed(std::string_view path, OutputType type) {
  const std::size_t slash = path.rfind('/');
  const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  std::string extension(file.substr(dot));
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  struct Named {
    std::string_view extension;
    OutputType type;
    OutputType also;
  };
  static constexpr Named kNamed[] = {
      {".xls", OutputType::Xml, OutputType::Xml},    {".xml", OutputType::Xml, OutputType::Xml},
      {".csv", OutputType::Csv, OutputType::Tsv},    {".tsv", OutputType::Tsv, OutputType::Tsv},
      {".htm", OutputType::Html, OutputType::Html},  {".html", OutputType::Html, OutputType::Html},
      {".xlsx", OutputType::Xlsx, OutputType::Xlsx},
  };
  for (const Named& named : kNamed) {
    if (named.extension != extension) continue;
    if (named.type == type || named.also == type) return std::nullopt;
    return "The output file name " + std::string(path) + " ends in " + extension +
           ", the extension of " + outputTypeName(named.type) + " files, but the output type is " +
           outputTypeName(type) + ".";
  }
  return std::nullopt;
}

namespace {

const char* defaultExtension(const JobSettings& job, OutputType type) {
  switch (type) {
    case OutputType::Xml:
      return job.excel2007 ? ".xml" : ".xls";
    case OutputType::Csv:
    case OutputType::Tsv:
      return ".csv";
    case OutputType::Xlsx:
      return ".xlsx";
    case OutputType::Html:
      break;
  }
  return ".html";
}

// The numbers of which a name of any form is in the directory open as `dirFd`: "rowXXXX.TMP"
// followed by anything (an output, a sheet's file, a manifest of an earlier run).
std::vector<bool> numbersInUse(int dirFd) {
  std::vector<bool> used(0x10000u, false);
  // A directory that cannot be listed has no number in use: O_EXCL still guards every name.
  DirectoryEntries entries(dirFd);
  while (const char* entry = entries.next()) {
    const std::string_view name = entry;
    if (beginsWithNumber(name)) {
      used[std::strtoul(std::string(name.substr(3, 4)).c_str(), nullptr, 16)] = true;
    }
  }
  return used;
}

// Reserves free default names in `directory`, open as `dirFd`, under one number:
// "rowXXXX.TMP" (made and removed again, as a free name of the system's temporary-name service
// would be) and that name with each of `suffixes`, which are created and stay as the
// reservations. A number of which any form exists is skipped (every name that begins with
// "rowXXXX.TMP", whatever follows), so no earlier file is ever replaced and no name the run
// publishes is another run's. On failure the one path holds the error.
std::vector<OutputPath> reserveDefaultNames(const std::string& directory, int dirFd,
                                            const std::vector<std::string>& suffixes,
                                            StopRequest& stop) {
  // A stop waits until the names are reserved and registered, so that it can give them back.
  StepBeforeRegistration step(stop);
  std::vector<OutputPath> result;
  auto failed = [&](std::string error) {
    result.clear();
    result.emplace_back();
    result[0].error = std::move(error);
    return std::move(result);
  };
  auto cannotCreate = [&](int err) {
    return failed("cannot create a file in " + directory + ": " + std::strerror(err));
  };
  std::random_device device;
  const unsigned start = device() & 0xFFFFu;
  const std::vector<bool> used = numbersInUse(dirFd);
  for (unsigned i = 0; i < 0x10000u; ++i) {
    const unsigned number = (start + i) & 0xFFFFu;
    if (used[number]) continue;
    char base[16];
    std::snprintf(base, sizeof base, "row%04X.TMP", number);
    int fd = ::openat(dirFd, base, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return cannotCreate(errno);
    ::close(fd);
    result.clear();  // the reservations of a number that was skipped are removed
    int err = 0;
    for (const std::string& suffix : suffixes) {
      const std::string name = base + suffix;
      fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      err = errno;
      if (fd < 0) break;
      struct stat st;
      const int kept = ::fstat(fd, &st) == 0 ? ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0) : -1;
      if (kept < 0) {
        err = errno;
        ::unlinkat(dirFd, name.c_str(), 0);
        ::close(fd);
        fd = -1;
        break;
      }
      OutputPath& path = result.emplace_back();
      path.path = directory + "/" + name;
      path.reserved = NameReservation(path.path, kept, name, fd, st.st_dev, st.st_ino);
    }
    ::unlinkat(dirFd, base, 0);
    if (fd < 0 && err == EEXIST) continue;
    if (fd < 0) return cannotCreate(err);
    return result;
  }
  return failed("no free name is left in " + directory);
}

}  // namespace

bool writesFilePerSheet(const JobSettings& job, OutputType type) {
  return !job.sheets.empty() && (type == OutputType::Csv || type == OutputType::Tsv);
}

std::string sheetFileName(std::string_view path, std::string_view sheet) {
  const std::size_t slash = path.rfind('/');
  const std::size_t fileStart = slash == std::string_view::npos ? 0 : slash + 1;
  std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < fileStart) dot = path.size();
  std::string name(path.substr(0, dot));
  name += '-';
  name += sheet;
  name += path.substr(dot);
  return name;
}

namespace {

// The extension of each default name of a run, after the name's number: one for the whole
// output, or for a CSV or TSV report one per sheet; then the manifest's, named after the whole
// output ("rowXXXX.TMP.csv.manifest.json" for a report's sheet files too) and reserved with it.
std::vector<std::string> defaultSuffixes(const JobSettings& job, OutputType type) {
  std::vector<std::string> suffixes;
  if (writesFilePerSheet(job, type)) {
    for (const JobSheet& sheet : job.sheets) suffixes.push_back("-" + sheet.name + ".csv");
  } else {
    suffixes.push_back(defaultExtension(job, type));
  }
  if (job.manifest) suffixes.push_back(manifestPathFor(defaultExtension(job, type)));
  return suffixes;
}

}  // namespace

std::vector<OutputPath> prepareOutputPaths(const JobSettings& job, OutputType type,
                                           StopRequest& stop) {
  const std::string directory = defaultDirectory();
  const bool named = !needsDefaultName(job, type);
  std::vector<OutputPath> result(1);
  // The default directory, opened once: the leftovers and the name reserved in it are found
  // through this descriptor.
  FileDescriptor dirFd;
  if (directory.empty()) {
    // Nothing is created or cleaned up anywhere else, the working directory least of all.
    if (!named) {
      result[0].error = noDefaultDirectoryReason();
      return result;
    }
  } else if (!createDefaultDirectory(directory) ||
             !(dirFd = FileDescriptor(openRunDirectory(directory)))) {
    if (!named) {
      result[0].error = "cannot create the directory " + directory + ": " + std::strerror(errno);
      return result;
    }
  } else {
    removeAbandonedTemporaryFiles(dirFd.get());
    removeAbandonedReservations(dirFd.get());
  }
  const auto tooLong = [](const OutputPath& path) { return path.path.size() > kPathLimit; };
  if (named && writesFilePerSheet(job, type)) {
    result.clear();
    for (const JobSheet& sheet : job.sheets) {
      result.emplace_back().path = sheetFileName(job.outFileName, sheet.name);
    }
  } else if (named) {
    result[0].path = job.outFileName;
  } else {
    const std::vector<std::string> suffixes = defaultSuffixes(job, type);
    const std::size_t longest = std::max_element(suffixes.begin(), suffixes.end(),
                                                 [](const std::string& a, const std::string& b) {
                                                   return a.size() < b.size();
                                                 })
                                    ->size();
    // A reservation is only made for names that fit.
    if (directory.size() + 1 + std::strlen("row0000.TMP") + longest <= kPathLimit) {
      result = reserveDefaultNames(directory, dirFd.get(), suffixes, stop);
    } else {
      result[0].error = tooLongMessage("The output path", kPathLimit);
    }
  }
  dirFd.reset();
  if (auto longest = std::find_if(result.begin(), result.end(), tooLong); longest != result.end()) {
    std::string refused = longest->path;
    result.clear();
    result.emplace_back();
    result[0].error = tooLongMessage("The output path", kPathLimit);
    result[0].refused = std::move(refused);
  }
  return result;
}

OutputPath prepareOutputPath(const JobSettings& job, OutputType type, StopRequest& stop) {
  return std::move(prepareOutputPaths(job, type, stop).front());
}

}  // namespace rowpress
