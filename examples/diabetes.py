"""Predict disease progression with a small regression network.

The data are scikit-learn's bundled diabetes measurements (442 patients, ten
features, no download). A fixed 80/20 split keeps 88 patients out of training.
Features are standardised and the target (a progression score of about 25 to
346) is expressed in hundreds, so the model's tolerance of 1.0 means "within
100 points". The network is 10 inputs -> 32 ReLU units -> 1 output, trained
full batch with Adam; the best parameters go to a JSON file, which the script
loads back to evaluate the held-out patients.

    python examples/diabetes.py [--epochs 150] [--model build/examples/diabetes_model.json]
"""

import argparse

import numpy as np
from sklearn.datasets import load_diabetes

import brenik
from outputs import output_path

TARGET_SCALE = 100.0


def split_diabetes(seed=0, held_out=0.2):
    data = load_diabetes()
    x = data.data.astype(np.float64)
    y = (data.target / TARGET_SCALE).astype(np.float32)
    order = np.random.default_rng(seed).permutation(len(x))
    n_test = int(round(len(x) * held_out))
    test, train = order[:n_test], order[n_test:]
    # standardise with the training part's statistics only
    mean, std = x[train].mean(axis=0), x[train].std(axis=0)
    x = ((x - mean) / std).astype(np.float32)
    return x[train], y[train], x[test], y[test]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--epochs", type=int, default=150)
    parser.add_argument("--reports", type=int, default=10, help="progress lines to print")
    parser.add_argument("--model", default=output_path("diabetes_model.json"),
                        help="best-parameters file")
    args = parser.parse_args()

    x_train, y_train, x_test, y_test = split_diabetes()
    print(f"diabetes: {len(x_train)} training patients, {len(x_test)} held out")

    model = brenik.create_linear_model("linear", args.model)
    model = brenik.add_linear_model_layer(model, 10, 32, "dense", "relu")
    model = brenik.add_linear_model_layer(model, 32, 1, "dense")
    opt = brenik.create_optimizer("adam", 0.01, 0.0)
    brenik.train_linear_model(model, opt, args.epochs, args.reports,
                              x_train, y_train, x_test, y_test)

    best = brenik.load_linear_model(args.model)
    print(f"\nloaded the best parameters from {args.model}; held-out patients "
          f"(scores in hundreds):")
    # One line per patient, then the summary: the figure after "Validation MSE:"
    # is the mean absolute error, and "Accuracy" counts predictions within 1.0.
    brenik.evaluate_linear_model(best, x_test, y_test)


if __name__ == "__main__":
    main()
