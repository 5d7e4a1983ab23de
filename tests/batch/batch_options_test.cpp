#include "batch/batch.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

// What a command line asks for, in one text: the fields that differ from
// the defaults, or the problem.
QString Read(const QStringList &args, const QProcessEnvironment &env = {}) {
  const Expected<BatchOptions> o = ParseBatchArguments(args, env);
  if (!o) return "problem: " + o.error().description();
  QStringList said;
  if (o->help) said << "help";
  if (!o->listFile.isEmpty()) said << "list " + o->listFile;
  if (!o->inputFolder.isEmpty()) said << "in " + o->inputFolder;
  if (!o->outputFolder.isEmpty()) said << "out " + o->outputFolder;
  if (!o->pattern.isEmpty()) said << "pattern " + o->pattern;
  if (o->jobs) said << QStringLiteral("jobs %1").arg(o->jobs);
  if (o->existing != "Replace") said << "existing " + o->existing;
  if (o->metadata != "KeepAll") said << "metadata " + o->metadata;
  if (o->shardCount > 1)
    said << QStringLiteral("shard %1/%2").arg(o->shardIndex).arg(o->shardCount);
  for (const auto &[flag, name] : {std::pair{o->inverse, "inverse"},
                                   {o->antialias, "antialias"},
                                   {o->allowOutOfBounds, "oob"},
                                   {o->keepOrientation, "keep"},
                                   {o->enlarge, "enlarge"},
                                   {o->sharpen, "sharpen"},
                                   {o->quiet, "quiet"}})
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
      {{"--batch", "l", "--inverse", "--antialias", "--allow-out-of-bounds", "--keep-orientation",
        "--enlarge", "-q"},
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
      {{"--batch", "l", "--jobs", "0"},
       "problem: --jobs needs a whole number from 1 to 256, not \"0\""},
      {{"--batch", "l", "--jobs=257"},
       "problem: --jobs needs a whole number from 1 to 256, not \"257\""},
      {{"--batch", "l", "--shard", "3/2"},
       "problem: --shard needs K/N, whole numbers with K from 1 to N (such as 2/8), or auto, not "
       "\"3/2\""},
      {{"--batch", "l", "--shard", "0/2"},
       "problem: --shard needs K/N, whole numbers with K from 1 to N (such as 2/8), or auto, not "
       "\"0/2\""},
      {{"--batch", "l", "--quiet=yes"}, "problem: --quiet takes no value"},
      {{"--batch", "l", "--frobnicate"}, "problem: unknown option --frobnicate"},
      {{"--batch", "l", "stray"}, "problem: unexpected argument \"stray\""},
  };
  for (const auto &[args, expected] : cases)
    EXPECT_EQ(Read(args), expected) << args.join(u' ').toStdString();
}

TEST(BatchOptions, ShardAutoTakesThePartFromTheEngineOrRefusesToGuess) {
  const QString none = "problem: --shard auto found none of SLURM_ARRAY_TASK_ID (a Slurm array "
                       "job), JOB_COMPLETION_INDEX (a Kubernetes Indexed Job) or PARALLEL_SEQ "
                       "(GNU parallel); give the part as K/N";
  // The environment as NAME=VALUE words, the --shard value, what is read.
  const std::vector<std::tuple<QString, QString, QString>> cases = {
      // Slurm, --array=0-7 and --array=1-8, both ends; COUNT or MAX alone is enough.
      {"SLURM_ARRAY_TASK_ID=0 SLURM_ARRAY_TASK_MIN=0 SLURM_ARRAY_TASK_MAX=7 "
       "SLURM_ARRAY_TASK_COUNT=8 SLURM_ARRAY_TASK_STEP=1",
       "auto", "shard 1/8"},
      {"SLURM_ARRAY_TASK_ID=7 SLURM_ARRAY_TASK_MIN=0 SLURM_ARRAY_TASK_MAX=7", "auto", "shard 8/8"},
      {"SLURM_ARRAY_TASK_ID=1 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_COUNT=8", "auto/8",
       "shard 1/8"},
      {"SLURM_ARRAY_TASK_ID=8 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_MAX=8", "auto", "shard 8/8"},
      {"SLURM_ARRAY_TASK_ID=12 SLURM_ARRAY_TASK_MIN=4 SLURM_ARRAY_TASK_MAX=16 "
       "SLURM_ARRAY_TASK_STEP=4",
       "auto", "shard 3/4"},
      {"SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_MAX=1", "auto",
       "problem: --shard auto: SLURM_ARRAY_TASK_ID=2 is not a task of the array from "
       "SLURM_ARRAY_TASK_MIN=1 with 1 tasks"},
      {"SLURM_ARRAY_TASK_ID=0 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_COUNT=8", "auto",
       "problem: --shard auto: SLURM_ARRAY_TASK_ID=0 is not a task of the array from "
       "SLURM_ARRAY_TASK_MIN=1 with 8 tasks"},
      {"SLURM_ARRAY_TASK_ID=9 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_COUNT=8", "auto",
       "problem: --shard auto: SLURM_ARRAY_TASK_ID=9 is not a task of the array from "
       "SLURM_ARRAY_TASK_MIN=1 with 8 tasks"},
      {"SLURM_ARRAY_TASK_ID=4 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_MAX=9 "
       "SLURM_ARRAY_TASK_COUNT=3",
       "auto",
       "problem: --shard auto: SLURM_ARRAY_TASK_MIN=1, SLURM_ARRAY_TASK_MAX=9, "
       "SLURM_ARRAY_TASK_STEP=1 and SLURM_ARRAY_TASK_COUNT=3 disagree (an array of single "
       "numbers such as --array=1,4,9 has no parts; use a range such as --array=1-8)"},
      {"SLURM_ARRAY_TASK_ID=3 SLURM_ARRAY_TASK_MIN=1", "auto",
       "problem: --shard auto: SLURM_ARRAY_TASK_ID=3 comes without SLURM_ARRAY_TASK_MIN and "
       "SLURM_ARRAY_TASK_COUNT or SLURM_ARRAY_TASK_MAX, so its part is not known"},
      {"SLURM_ARRAY_TASK_ID=3 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_COUNT=8", "auto/4",
       "problem: --shard auto: SLURM_ARRAY_TASK_ID=3 is one of 8 tasks, not of 4 as auto/4 says"},
      // Kubernetes counts from 0, GNU parallel from 1; neither tells the count.
      {"JOB_COMPLETION_INDEX=0", "auto/4", "shard 1/4"},
      {"JOB_COMPLETION_INDEX=3", "auto/4", "shard 4/4"},
      {"JOB_COMPLETION_INDEX=4", "auto/4",
       "problem: --shard auto: JOB_COMPLETION_INDEX=4 is part 5, not one of parts 1 to 4 (auto/4)"},
      {"PARALLEL_SEQ=1", "auto/3", "shard 1/3"},
      {"PARALLEL_SEQ=3", "auto/3", "shard 3/3"},
      {"PARALLEL_SEQ=0", "auto/3",
       "problem: --shard auto: PARALLEL_SEQ=0 is part 0, not one of parts 1 to 3 (auto/3)"},
      {"PARALLEL_SEQ=2", "auto",
       "problem: --shard auto: PARALLEL_SEQ=2 does not tell how many parts there are; give it "
       "as --shard auto/N"},
      // Two engines at once must name the same part.
      {"PARALLEL_SEQ=2 JOB_COMPLETION_INDEX=1", "auto/3", "shard 2/3"},
      {"PARALLEL_SEQ=2 JOB_COMPLETION_INDEX=2", "auto/3",
       "problem: --shard auto: JOB_COMPLETION_INDEX=2 and PARALLEL_SEQ=2 are different parts (3 "
       "and 2)"},
      {"", "auto", none},
      {"SLURM_JOB_ID=5 SLURM_ARRAY_JOB_ID=5", "auto/2", none},
      {"JOB_COMPLETION_INDEX=x1", "auto/4",
       "problem: --shard auto: JOB_COMPLETION_INDEX is \"x1\", not a whole number from 0"},
      {"SLURM_ARRAY_TASK_ID=1 SLURM_ARRAY_TASK_MIN=-1 SLURM_ARRAY_TASK_COUNT=3", "auto",
       "problem: --shard auto: SLURM_ARRAY_TASK_MIN is \"-1\", not a whole number from 0"},
      {"PARALLEL_SEQ=", "auto/2",
       "problem: --shard auto: PARALLEL_SEQ is \"\", not a whole number from 0"},
      {"PARALLEL_SEQ=1", "auto/0",
       "problem: --shard auto/N needs N, a whole number from 1 (such as auto/8), not \"auto/0\""},
      {"PARALLEL_SEQ=1", "autox",
       "problem: --shard needs K/N, whole numbers with K from 1 to N (such as 2/8), or auto, not "
       "\"autox\""},
      // K/N means what it says whatever the environment holds.
      {"PARALLEL_SEQ=1 JOB_COMPLETION_INDEX=0", "2/5", "shard 2/5"},
  };
  for (const auto &[vars, value, expected] : cases) {
    QProcessEnvironment env;
    for (const QString &word : vars.split(u' ', Qt::SkipEmptyParts))
      env.insert(word.section(u'=', 0, 0), word.section(u'=', 1));
    EXPECT_EQ(Read({"--batch", "l", "--shard", value}, env),
              expected.startsWith("problem") ? expected : "list l," + expected)
        << vars.toStdString() << " " << value.toStdString();
  }
}

} // namespace
} // namespace varnholt
