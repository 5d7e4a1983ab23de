int dummy_apply_test;
