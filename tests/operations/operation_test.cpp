int dummy_operation_test;
