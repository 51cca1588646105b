// One good post of every served form, as its page sends it: the form tests,
// the end-to-end loop and the post benchmark all read this table. The keys
// (weld programs, stages, banks, regions, robot makers) are ones a demo
// machine and the tests' own root both have.
#ifndef QUENTA_TESTS_FORMS_FORMSAMPLES_H_
#define QUENTA_TESTS_FORMS_FORMSAMPLES_H_

#include <string>
#include <utility>
#include <vector>

namespace formtest {

typedef std::vector<std::pair<std::string, std::string>> Fields;

struct FormSample {
  const char* path;
  Fields fields;
};

inline const std::vector<FormSample>& formSamples() {
  static const std::vector<FormSample> samples = {
      {"/setup/error_config.min.html",
       {{"arcstarterror", "1"}, {"missedwelderror", "1"}, {"arcruntimeerror", "1"}, {"wirestuckerror", "1"},
        {"wirefeedspeederror", "1"}, {"motorovercurrenterror", "1"}, {"coolantflowerror", "1"},
        {"wirewarningerror", "1"}, {"gasflowerror", "1"}, {"bankconfigID", "1"}, {"errorsenabled", "0"}}},
      {"/setup/weld_cable.min.html",
       {{"torchresistance", "12"}, {"cableresistance", "7"}, {"positivecablesize", "2"}, {"negativecablesize", "3"},
        {"positivelength", "25"}, {"negativelength", "20"}, {"torchID", "0"}, {"banknumber", "1"},
        {"voltsfeedbackmethod", "1"}, {"sec_res_active", "1"}, {"sec_res_pcode", "655"}, {"sec_ind_active", "0"},
        {"sec_ind_pcode", "656"}, {"sec_tale_active", "1"}, {"sec_tale_pcode", "665"}}},
      {"/setup/spool.min.html",
       {{"userwireweight", "33"}, {"poundswarning", "5"}, {"banknumber", "1"}, {"remainingpounds", "500"},
        {"resetspoolsubmit", "0"}, {"userwireweightright", "44"}, {"poundswarningright", "4"},
        {"banknumberright", "2"}, {"remainingpoundsright", "120"}}},
      {"/setup/region.min.html",
       {{"selectedRegion", "2"}, {"metricvalue", "1"}, {"metricenablepcode", "101"}, {"ceprogramsvalue", "0"},
        {"ceprogramsenablepcode", "651"}, {"aaScalingvalue", "1"}, {"aaScalingenablepcode", "652"}}},
      {"/data_management/data_management.min.html",
       {{"userwireweight", "33"}, {"userwireweightright", "44"}, {"dualstatus", "1"}, {"resetspoolsubmit", "0"},
        {"datasubmit", "1"}, {"dualdatasubmit", "0"}}},
      {"/arc_management/process_enables.min.html",
       {{"migactive", "1"}, {"pulseactive", "0"}, {"torvaneactive", "0"}, {"lindrelactive", "1"}, {"cacactive", "0"},
        {"stickactive", "0"}, {"brevactive", "0"}, {"brevsactive", "0"}, {"solvaneactive", "0"}}},
      {"/arc_management/advanced_triggers.min.html",
       {{"selectedprogramA", "1"}, {"weldconfigidA", "4"}, {"preflowIDA", "10"}, {"preflowtimeA", "0.5"},
        {"tbdenableA", "1"}, {"manualenableA", "0"}, {"smartenableA", "1"}, {"simpleenableA", "0"},
        {"selectedprogramB", "2"}, {"weldconfigidB", "6"}, {"preflowIDB", "20"}, {"preflowtimeB", "1.2"},
        {"tbdenableB", "0"}, {"manualenableB", "1"}, {"smartenableB", "0"}, {"simpleenableB", "1"},
        {"ignoreweldactive", "1"}, {"ignoreweldenablepcode", "638"}}},
      {"/arc_management/program_naming.min.html",
       {{"selected_program", "1"}, {"custom_name", "MyWeld"}, {"custom_description", "Root pass"},
        {"user_selected_program_pcode", "660"}}},
      {"/arc_management/enables_locks.min.html",
       {{"enableallweldfilesubmit", "0"}, {"disableallweldfilesubmit", "0"}, {"activeweldfile", "1"},
        {"seqlockactive", "1"}, {"seqlock_pcode", "654"}, {"triggerfuncactive", "1"}, {"triggerfunc_pcode", "653"},
        {"globallockactive", "1"}, {"bank_id", "1"}, {"locksubmit", "1"}, {"weldfilelockstate", "0"},
        {"selected_program", "2"}, {"enablesubmit", "0"}, {"dualfeeder", "0"}, {"dualnonactiveweldfile", "0"}}},
      {"/arc_management/process_selection.html",
       {{"vort", "1"}, {"indorsa", "0"}, {"selected_program_number", "2"}, {"comboid", "45"}, {"wireweight", "33"},
        {"alloyindex", "3"}, {"uimname", "ER70S-6"}, {"user_selected_program_pcode", "660"}}},
      {"/arc_management/weld_file_setup.min.html", {{"weldlistcombonumber", "5"}, {"selected_program", "1"}}},
      {"/arc_management/time_sequence_adjust.min.html",
       {{"seq_time", "2.5"}, {"seq_id", "11"}, {"seq_enable", "1"}, {"selected_sequence", "11"}}},
      {"/arc_management/retract_sequence_adjust.min.html",
       {{"seq_time", "1.25"}, {"seq_wfs", "300"}, {"seq_id", "17"}, {"timedelay", "0.7"},
        {"retract_delay_pcode", "657"}}},
      {"/arc_management/full_sequence_adjust.min.html",
       {{"seq_id", "13"},        {"volts_or_fendral", "1"}, {"wfs_or_amps", "0"},   {"inductance_or_arccontrol", "1"},
        {"volts", "200"},        {"min_volts", "100"},      {"max_volts", "300"},   {"trim", "50"},
        {"min_trim", "1"},       {"max_trim", "99"},        {"amps", "150"},        {"min_amps", "10"},
        {"max_amps", "400"},     {"wfs", "320"},            {"min_wfs", "50"},      {"max_wfs", "700"},
        {"inductance", "40"},    {"min_inductance", "0"},   {"max_inductance", "99"}, {"fendral", "7"},
        {"min_fendral", "2"},    {"max_fendral", "9"},      {"seq_aa", "51"},       {"limits_seq_aa_low", "3"},
        {"limits_seq_aa_high", "98"}, {"seq_wfs", "310"},   {"limits_seq_wfs_low", "60"},
        {"limits_seq_wfs_high", "690"}, {"seq_ac", "8"},    {"limits_seq_ac_low", "4"},
        {"limits_seq_ac_high", "12"}, {"seq_time", "2.3"},  {"limits_seq_time_low", "0.1"},
        {"limits_seq_time_high", "9.99"}, {"seqenable", "1"}, {"weld_ind_slope", "786"},
        {"selected_sequence", "12"}, {"ramp_seq_time", "150"}}},
      {"/setup/robot_options.html",
       {{"robotcommselected", "1"}, {"robot_comm_pcode", "639"}, {"rpsSetting", "0"},
        {"robot_program_select_pcode", "139"}, {"RobotMfgSelected", "2"}, {"RobotMfgPCode", "136"},
        {"setvaluevalue", "1"}, {"setvalueenablepcode", "125"}, {"iptype1", "1"}, {"ipaddress", "3232235777"},
        {"subnetmask", "4294967040"}, {"gateway", "3232235521"}, {"ethernetsave", "0"}, {"mac0", "0"},
        {"mac1", "1"}, {"mac2", "2"}, {"mac3", "3"}, {"mac4", "4"}, {"mac5", "5"}}},
      {"/setup/dry_run.html", {{"dryrunSetting", "1"}, {"dry_run_pcode", "117"}}},
      {"/arc_management/runin_sequence_adjust.min.html", {{"runin_wfs", "120"}, {"runin_id", "1"}}},
      {"/arc_management/custom_process_selection.html",
       {{"selected_program_number", "1"}, {"comboid", "45"}, {"uimname", "Cust"},
        {"user_selected_program_pcode", "660"}}},
      {"/setup/atuocal.html",
       {{"MaxWFSSelected", "600"}, {"MinVoltsCalPt", "160"}, {"MaxVoltsCalPt", "320"}, {"MinWFSCalPt", "150"},
        {"MaxWFSCalPt", "600"}, {"manualcalstatus", "1"}}},
      {"/arc_management/burnback_sequence_adjust.html", {{"bb_time", "25"}, {"bb_id", "2"}}},
      {"/arc_management/retract_start.html", {{"seq_id", "17"}, {"retract_enable", "1"}}},
  };
  return samples;
}

// The sample of a form path with some fields changed.
inline Fields sampleWith(const std::string& path, const Fields& changes) {
  Fields fields;
  for (const FormSample& sample : formSamples()) {
    if (path == sample.path) fields = sample.fields;
  }
  for (const auto& change : changes) {
    for (auto& field : fields) {
      if (field.first == change.first) field.second = change.second;
    }
  }
  return fields;
}

}  // namespace formtest

#endif  // QUENTA_TESTS_FORMS_FORMSAMPLES_H_
