#include "cli/batch.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

// What a command line asks for, in one text: the fields that differ from
// the defaults, or the problem.
QString Read(const QStringList &args) {
  QString problem;
  const std::optional<BatchOptions> o = ParseBatchArguments(args, problem);
  if (!o) return "problem: " + problem;
  QStringList said;
  if (o->help) said << "help";
  if (!o->listFile.isEmpty()) said << "list " + o->listFile;
  if (!o->inputDir.isEmpty()) said << "in " + o->inputDir;
  if (!o->outputDir.isEmpty()) said << "out " + o->outputDir;
  if (!o->pattern.isEmpty()) said << "pattern " + o->pattern;
  if (o->jobs) said << QStringLiteral("jobs %1").arg(o->jobs);
  if (o->existing != "Replace") said << "existing " + o->existing;
  if (o->metadata != "KeepAll") said << "metadata " + o->metadata;
  if (o->shardCount > 1) said << QStringLiteral("shard %1/%2").arg(o->shardIndex).arg(o->shardCount);
  for (const auto &[flag, name] :
       {std::pair{o->inverse, "inverse"}, {o->antialias, "antialias"},
        {o->allowOutOfBounds, "oob"}, {o->keepOrientation, "keep"}, {o->enlarge, "enlarge"},
        {o->sharpen, "sharpen"}, {o->quiet, "quiet"}})
    if (flag) said << name;
  return said.join(u',');
}

TEST(BatchOptions, ReadsEveryOptionAndRefusesWhatItCannotUse) {
  const std::vector<std::pair<QStringList, QString>> cases = {
      {{"--batch", "a.vop"}, "list a.vop"},
      {{"--batch=a b.vop", "--input", "in", "--output=out", "--pattern", "*x"},
       "list a b.vop,in in,out out,pattern *x"},
      {{"--batch", "l", "-j", "3", "--shard", "2/8"}, "list l,jobs 3,shard 2/8"},
      {{"--batch", "l", "--sharpen"}, "list l,sharpen"},
      {{"--batch", "l", "--inverse", "--antialias", "--allow-out-of-bounds",
        "--keep-orientation", "--enlarge", "-q"},
       "list l,inverse,antialias,oob,keep,enlarge,quiet"},
      {{"--batch", "l", "--metadata", "no-location", "--existing=skip"},
       "list l,existing Skip,metadata RemoveLocation"},
      {{"--batch", "l", "--metadata=none"}, "list l,metadata RemoveAll"},
      {{"--batch", "l", "--metadata", "keep"}, "list l"},
      {{"--batch", "l", "--metadata", "gps"},
       "problem: --metadata needs keep, no-location or none, not \"gps\""},
      {{"--batch", "--help"}, "help"},
      {{"--help=x"}, "help"},
      {{"--batch"}, "problem: --batch needs an operation list file"},
      {{"--input", "in"}, "problem: --batch needs an operation list file"},
      {{"--batch", "l", "--output"}, "problem: --output needs a value"},
      {{"--batch", "l", "--input="}, "problem: --input needs a folder"},
      {{"--batch", "l", "--jobs", "0"}, "problem: --jobs needs a whole number from 1 to 256, not \"0\""},
      {{"--batch", "l", "--jobs=257"}, "problem: --jobs needs a whole number from 1 to 256, not \"257\""},
      {{"--batch", "l", "--shard", "3/2"},
       "problem: --shard needs K/N, whole numbers with K from 1 to N (such as 2/8), not \"3/2\""},
      {{"--batch", "l", "--shard", "0/2"},
       "problem: --shard needs K/N, whole numbers with K from 1 to N (such as 2/8), not \"0/2\""},
      {{"--batch", "l", "--quiet=yes"}, "problem: --quiet takes no value"},
      {{"--batch", "l", "--frobnicate"}, "problem: unknown option --frobnicate"},
      {{"--batch", "l", "stray"}, "problem: unexpected argument \"stray\""},
  };
  for (const auto &[args, expected] : cases)
    EXPECT_EQ(Read(args), expected) << args.join(u' ').toStdString();
}

} // namespace
} // namespace varnholt
