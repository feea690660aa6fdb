"""Recognise handwritten digits with brenik.

The data are scikit-learn's bundled 8x8 digit images (1797 of them, no
download). A fixed 80/20 split keeps 359 images out of training. The network
is 64 inputs -> 64 ReLU units -> 10 classes with softmax, trained full batch
with Adam. Training writes the parameters with the lowest training loss to a
JSON file; the script loads that file back and evaluates it on the held-out
images.

    python examples/digits.py [--epochs 300] [--model build/examples/digits_model.json]
"""

import argparse
import sys

import numpy as np
from sklearn.datasets import load_digits

import brenik
from fd_capture import captured_lines
from outputs import output_path


def split_digits(seed=0, held_out=0.2):
    digits = load_digits()
    x = (digits.data / 16.0).astype(np.float32)  # pixel intensities 0..16 -> 0..1
    y = digits.target.astype(np.int32)
    order = np.random.default_rng(seed).permutation(len(x))
    n_test = int(round(len(x) * held_out))
    test, train = order[:n_test], order[n_test:]
    return x[train], y[train], x[test], y[test]


def build_model(path):
    model = brenik.create_categorical_model("softmax", path)
    model = brenik.add_categorical_model_layer(model, 64, 64, "dense", "relu")
    return brenik.add_categorical_model_layer(model, 64, 10, "dense")


def held_out_accuracy(summary_line):
    # "Validation accuracy 97.2%"
    return float(summary_line.rsplit(" ", 1)[1].rstrip("%"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--epochs", type=int, default=300)
    parser.add_argument("--reports", type=int, default=15, help="progress lines to print")
    parser.add_argument("--model", default=output_path("digits_model.json"),
                        help="best-parameters file")
    parser.add_argument("--show", type=int, default=5, help="per-image lines to show")
    args = parser.parse_args()

    x_train, y_train, x_test, y_test = split_digits()
    print(f"digits: {len(x_train)} training images, {len(x_test)} held out")

    model = build_model(args.model)
    opt = brenik.create_optimizer("adam", 0.01, 0.0)
    # The held-out images double as the validation set: they are only scored,
    # and the best parameters are chosen by training loss alone.
    brenik.train_categorical_model(model, opt, args.epochs, args.reports,
                                   x_train, y_train, x_test, y_test)

    best = brenik.load_categorical_model(args.model)
    print(f"\nloaded the best parameters from {args.model}; evaluating the held-out images:")
    with captured_lines() as lines:
        brenik.evaluate_categorical_model(best, x_test, y_test)
    for line in lines[:args.show]:
        print(line)
    print(f"... ({len(lines) - 1 - args.show} more images)")
    print(lines[-1])

    accuracy = held_out_accuracy(lines[-1])
    if accuracy < 95.0:
        print(f"held-out accuracy {accuracy}% is below 95%", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
