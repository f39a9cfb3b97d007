// Proves that the stylesheet and the image came through: the heading has the
// stylesheet's colour and the logo decoded to its real size.
(function () {
  var result = document.getElementById("result");
  var logo = document.getElementById("logo");

  function check() {
    var heading = document.querySelector("h1");
    var styled = getComputedStyle(heading).color === "rgb(45, 91, 138)";
    var imaged = logo.complete && logo.naturalWidth === 96;
    var passed = styled && imaged;
    result.textContent = (passed ? "pass" : "fail") + " (stylesheet " + (styled ? "applied" : "missing") +
      ", image " + (imaged ? "loaded" : "missing") + ")";
    result.className = passed ? "pass" : "fail";
  }

  if (logo.complete) {
    check();
  } else {
    logo.addEventListener("load", check);
    logo.addEventListener("error", check);
  }
})();
