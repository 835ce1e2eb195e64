// Times replacing a file with the 3.2 MB payload of 0.25c on the real
// backend, the way the installer replaces the game's assembly (written
// beside, flushed, closed, swapped in), beside a plain overwrite. Prints one
// line of figures per way; it reports, it does not judge.
//
//   replace_bench FOLDER [ROUNDS]    FOLDER: a Windows path, ending in "\"
//   replace_bench --decode LABEL [ROUNDS]
//                                    the time to decode the embedded payload of
//                                    LABEL and check its digest, as the run
//                                    does before it changes anything
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "fsproc/file_ops.h"
#include "install/payload_catalogue.h"
#include "platform/real/real_api.h"
#include "runtime/handles.h"
#include "runtime/text_encoding.h"

// The seam's types share names with <windows.h>: the clock is declared here.
extern "C" __declspec(dllimport) int __stdcall QueryPerformanceCounter(long long* count);
extern "C" __declspec(dllimport) int __stdcall QueryPerformanceFrequency(long long* frequency);

namespace {

double Now() {
  static const long long frequency = [] {
    long long f = 1;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  long long now = 0;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now) * 1000.0 / static_cast<double>(frequency);
}

void Print(const std::string& line) {
  const std::string text = line + "\n";
  win::Api& api = RealApi();
  win::DWORD done = 0;
  api.WriteFile(api.GetStdHandle(win::STD_OUTPUT_HANDLE), text.data(),
                static_cast<win::DWORD>(text.size()), &done);
}

std::string Ms(double ms) {
  const long hundredths = static_cast<long>(ms * 100.0 + 0.5);
  const long part = hundredths % 100;
  return std::to_string(hundredths / 100) + (part < 10 ? ".0" : ".") + std::to_string(part) + " ms";
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

// Decoding and checking LABEL's payload, ROUNDS times.
int TimeDecoding(const std::string& label, int rounds) {
  std::vector<double> times;
  std::size_t size = 0;
  for (int round = 0; round < rounds; ++round) {
    const double start = Now();
    const Bytes payload = DecodedPayload(label);
    times.push_back(Now() - start);
    if (payload.empty()) {
      Print("cannot decode the payload of " + label);
      return 1;
    }
    size = payload.size();
  }
  Print("decoding and checking " + label + " (" + std::to_string(size) + " bytes): median " +
        Ms(Median(times)) + " of " + std::to_string(rounds));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Print("usage: replace_bench FOLDER [ROUNDS] | --decode LABEL [ROUNDS]");
    return 2;
  }
  if (std::string(argv[1]) == "--decode" && argc > 2)
    return TimeDecoding(argv[2], argc > 3 && std::atoi(argv[3]) > 0 ? std::atoi(argv[3]) : 5);
  win::Api& api = RealApi();
  const std::string folder = argv[1];
  const int rounds = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 7;
  const Bytes payloadBytes = DecodedPayload("0.25c");
  const std::string_view payload = payloadBytes;
  const std::string path = folder + "Assembly-CSharp.dll";
  const std::string beside = path + std::string(kNewFileSuffix);
  const std::string original(3240100, 'o');
  const WideText wideBeside = TextToWide(api, beside, 936);
  const WideText widePath = TextToWide(api, path, 936);

  std::vector<double> overwrite, write, flush, close, swap, whole, readBack;
  for (int round = 0; round < rounds; ++round) {
    if (!WriteBytesToFile(api, path, {original})) {
      Print("cannot write in " + folder);
      return 1;
    }
    double t = Now();
    const bool overwritten = WriteBytesToFile(api, path, {payload});
    overwrite.push_back(Now() - t);

    WriteBytesToFile(api, path, {original});
    t = Now();
    UniqueFileHandle file(api, api.CreateFileA(beside.c_str(), win::GENERIC_WRITE, 0,
                                               win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL));
    win::DWORD done = 0;
    const bool wrote = file && api.WriteFile(file.get(), payload.data(),
                                             static_cast<win::DWORD>(payload.size()), &done);
    double u = Now();
    write.push_back(u - t);
    const bool flushed = wrote && api.FlushFileBuffers(file.get());
    t = Now();
    flush.push_back(t - u);
    const bool closed = file.close();
    u = Now();
    close.push_back(u - t);
    const bool swapped =
        api.MoveFileExW(WideArg(wideBeside).get(), WideArg(widePath).get(),
                        win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_WRITE_THROUGH);
    t = Now();
    swap.push_back(t - u);

    WriteBytesToFile(api, path, {original});
    t = Now();
    const bool replaced = WriteBesideAndSwap(api, 936, beside, path, {payload}, true);
    u = Now();
    whole.push_back(u - t);
    const bool holds = FileHolds(api, path, payload);
    readBack.push_back(Now() - u);
    if (!overwritten || !flushed || !closed || !swapped || !replaced || !holds) {
      Print("a step failed in round " + std::to_string(round + 1));
      return 1;
    }
  }
  RemoveFile(api, path);
  Print("payload: " + std::to_string(payload.size()) + " bytes, median of " +
        std::to_string(rounds) + " rounds, in " + folder);
  Print("plain overwrite (create/truncate, write, close): " + Ms(Median(overwrite)));
  Print("replacement, by step: write beside " + Ms(Median(write)) + ", flush " +
        Ms(Median(flush)) + ", close " + Ms(Median(close)) + ", swap " + Ms(Median(swap)));
  Print("replacement as the installer does it (WriteBesideAndSwap): " + Ms(Median(whole)));
  Print("read back and compare: " + Ms(Median(readBack)));
  return 0;
}
