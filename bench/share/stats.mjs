// What the sharing benchmarks share: a pause and a percentile.
export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export const percentile = (values, p) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
};
