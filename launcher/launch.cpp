#include "launcher/launch.h"

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "launcher/ansi_argument.h"
#include "launcher/launch_request.h"
#include "link/launcher_client.h"
#ifdef _WIN32
#include "launcher/selection.h"
#endif

namespace {

// Only the length of the launcher's own file name matters: it is cut off its path by count.
constexpr std::size_t kLauncherFileNameLength = sizeof("Orbedo-Launcher.exe") - 1;

// The largest request the main application takes, its terminator "<EOF>" included
// (docs/protocol.md): it closes a longer one unanswered.
constexpr std::size_t kLargestRequest = std::size_t{1} << 28;
constexpr std::size_t kRequestTerminatorLength = sizeof("<EOF>") - 1;

// The longest folder Windows makes current, its trailing separator included (MAX_PATH less the
// terminating NUL): CreateProcessW fails with a longer one.
constexpr std::size_t kLongestCurrentFolder = 259;

constexpr char kLauncherCaption[] = "Orbedo Launcher";
constexpr char kOutOfMemory[] =
    "There was not enough memory to hand the documents to Orbedo, so none of them was opened.\n\n"
    "Close other programs, and open them again.";

// What the request carries of one document.
#ifdef _WIN32
std::string RequestArgument(const std::wstring& document) { return AnsiArgument(document); }
#else
std::string RequestArgument(const std::string& document) { return document; }
#endif

// The folder part of `path`, with its trailing separator; empty for a path without one (npos + 1
// is 0).
platform::NativeString FolderOf(const platform::NativeString& path) {
  return path.substr(0, path.find_last_of(platform::kPathSeparators) + 1);
}

int Failed(const char* error) {
  std::fputs("An exception occured: ", stderr);
  std::fputs(error, stderr);
  std::fputs("\n", stderr);
  std::fflush(stderr);
  return kLaunchFailed;
}

// Runs `step`, and reports what it throws: a runtime error, which the user was shown already, on
// standard error; memory that ran out in a box saying `out_of_memory` (if any) first.
template <typename Step>
int Reported(const char* out_of_memory, Step step) {
  try {
    return step();
  } catch (const std::runtime_error& error) {
    return Failed(error.what());
  } catch (const std::bad_alloc&) {
    // The box needs a little memory too; the line is written whether it shows or not.
    try {
      if (out_of_memory) {
        platform::MessageBoxA(out_of_memory, kLauncherCaption);
      }
    } catch (const std::bad_alloc&) {
    }
    return Failed("Out of memory");
  } catch (const std::exception& error) {
    return Failed(error.what());
  }
}

}  // namespace

platform::NativeString InstallPrefix(const platform::NativeString& launcher_path) {
  if (launcher_path.size() > kLauncherFileNameLength) {
    return launcher_path.substr(0, launcher_path.size() - kLauncherFileNameLength);
  }
  // A bare name typed in a console, or an unquoted open command cut at a space ("C:\Program"):
  // the folder the launcher was loaded from. Never the current folder, which for a document opened
  // from the shell is the document's own, where anything may have been put beside it.
  // An unknown path gives an empty prefix, from which nothing is started.
  return FolderOf(platform::GetModuleFileNameW());
}

int Launch(const platform::NativeString& launcher_path,
           const std::vector<platform::NativeString>& documents, StartFolder start_folder) {
  return Reported(kOutOfMemory, [&] {
    // A document that cannot be passed on is refused before anything is started or sent.
    std::vector<std::string> arguments;
    for (const platform::NativeString& document : documents) {
      arguments.push_back(RequestArgument(document));
    }
    const std::string body = BuildRequestBody(arguments);
    // Only a selection can come to this: a command line holds at most 32,767 characters.
    if (body.size() > kLargestRequest - kRequestTerminatorLength) {
      platform::MessageBoxA(
          "The documents are too many to be handed to Orbedo at once, so none of them was "
          "opened.\n\nOpen fewer documents at a time.",
          kLauncherCaption);
      throw std::runtime_error("Request too large");
    }
    LauncherClient client;
    client.Connect(InstallPrefix(launcher_path),
                   start_folder == StartFolder::kSelections
                       ? SelectionFolder(launcher_path, documents.front())
                       : platform::NativeString());
    client.Send(body);
    return kLaunchDelivered;
  });
}

int Launch(int argc, const platform::NativeChar* const* argv) {
  return Reported(kOutOfMemory, [&] {
    // A POSIX caller may pass no arguments at all, not even the program's path.
    if (argc == 0) {
      return Launch(NATIVE_TEXT(""), {}, StartFolder::kLaunchers);
    }
    return Launch(argv[0], {argv + 1, argv + argc}, StartFolder::kLaunchers);
  });
}

platform::NativeString SelectionFolder(const platform::NativeString& launcher_path,
                                       const platform::NativeString& first_document) {
  platform::NativeString folder = FolderOf(first_document);
  // A folder that is gone since the drop is found by the start itself, which then falls back on
  // the installation folder too (LauncherClient::Connect).
  if (folder.empty() || folder.size() > kLongestCurrentFolder) {
    return InstallPrefix(launcher_path);
  }
  return folder;
}

#ifdef _WIN32
int LaunchSelection(const wchar_t* launcher_path) {
  Selection selection;
  const int received = Reported(
      "There was not enough memory to take the documents selected in Explorer, so none of them "
      "was opened.\n\nClose other programs, and open them again.",
      [&] {
        selection = ReceiveSelection();
        return kLaunchDelivered;
      });
  if (received != kLaunchDelivered) {
    return received;
  }
  // The drops taken go on first, as one request; only then is the user told of those refused.
  const int launched = selection.documents.empty()
                           ? kLaunchDelivered
                           : Launch(launcher_path, selection.documents, StartFolder::kSelections);
  // Memory that runs out here may come after the documents went on: no box could say which.
  const int reported = Reported(nullptr, [&] {
    ReportRefusedDrops(selection);
    return kLaunchDelivered;
  });
  return reported == kLaunchDelivered ? launched : reported;
}
#endif
