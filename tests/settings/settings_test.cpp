int dummy_settings_test;
