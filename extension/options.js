// The options page: which browser downloads go to Vardane when it monitors
// the browser.
import { api, loadOptions, text } from "./lib/vardane.js";

for (const element of document.querySelectorAll("[data-text]")) {
  element.textContent = text(element.dataset.text);
}

const form = document.getElementById("options");
const minSize = document.getElementById("minSizeMB");
const types = document.getElementById("types");
const status = document.getElementById("status");

loadOptions().then((options) => {
  minSize.value = options.minSizeMB;
  types.value = options.types;
});

form.addEventListener("submit", async (event) => {
  event.preventDefault();
  const size = Math.max(0, Math.floor(Number(minSize.value) || 0));
  await api.storage.local.set({ minSizeMB: size, types: types.value.trim() });
  minSize.value = size;
  status.textContent = text("optionsSaved");
});
