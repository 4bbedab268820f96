import triageflow

triageflow.main()
